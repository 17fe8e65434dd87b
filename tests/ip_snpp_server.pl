#!/usr/bin/perl
# tests/ip_snpp_server.pl - Perl's Net::SNPP::Server as a third-party paging carrier for the
# tests of SNPP delivery: on 127.0.0.1, optionally inside TLS (IO::Socket::SSL) and with a
# login (LOGI, which the module leaves to its user). Prints "PORT n" once listening; appends
# "LOGI user=... ok=0|1" and "PAGE id=... text=..." lines to RECORD; ends after
# --idle seconds without a connection, so a test that forgets it cannot leave it running.
#
#   ip_snpp_server.pl RECORD [--tls CERT KEY] [--login USER PASSWORD] [--idle SECONDS]
use strict;
use warnings;
use IO::Handle;
use IO::Select;
use Socket;
use Net::SNPP::Server;

my $record = shift @ARGV or die "usage: $0 RECORD [--tls CERT KEY] [--login USER PASSWORD] [--idle S]\n";
my ($cert, $key, $user, $password);
my $idle = 60;
while (@ARGV) {
    my $opt = shift @ARGV;
    if ($opt eq '--tls') { ($cert, $key) = splice(@ARGV, 0, 2) }
    elsif ($opt eq '--login') { ($user, $password) = splice(@ARGV, 0, 2) }
    elsif ($opt eq '--idle') { $idle = shift @ARGV }
    else { die "unknown option $opt\n" }
}

sub note {
    open(my $f, '>>', $record) or die "cannot append to $record: $!";
    print $f "@_\n";
    close($f);
}

# A client handle inside TLS that still answers with the module's own command methods.
package TlsSnppClient;
our @ISA = ('IO::Socket::SSL', 'Net::SNPP::Server');
package main;

my $server = Net::SNPP::Server->new(Port => 0, BindTo => '127.0.0.1', Timeout => 30);
my ($port) = unpack_sockaddr_in(getsockname($server->socket()));
STDOUT->autoflush(1);
print "PORT $port\n";

my $logged_in = 0;
$server->callback('process_page', sub {
    my ($pager, $page, $results) = @_;
    if (defined $user && !$logged_in) { return undef }   # 554: no page without a login
    my $text = defined $page->{mess} ? $page->{mess} : '';
    $text =~ s/\r?\n/|/g;
    note("PAGE id=$pager->[0] text=$text");
    push(@$results, [$pager, $page]);
    return 1;
});
$server->custom_command('LOGI', sub {
    my ($u, $p) = @_;
    $p = '' unless defined $p;
    my $ok = defined $user && defined $u && $u eq $user && $p eq $password ? 1 : 0;
    $logged_in = $ok;
    note("LOGI user=" . (defined $u ? $u : '') . " ok=$ok");
    return ($ok ? "250 Login Accepted" : "550 Error, Login Refused", 1);
});

my $select = IO::Select->new($server->socket());
while ($select->can_read($idle)) {
    my $client = $server->client();
    $logged_in = 0;
    if (defined $cert) {
        require IO::Socket::SSL;
        IO::Socket::SSL->start_SSL($client, SSL_server => 1, SSL_cert_file => $cert, SSL_key_file => $key,
                                   Timeout => 10) or do { note("TLS failed=" . IO::Socket::SSL::errstr()); next };
        bless $client, 'TlsSnppClient';
    }
    $server->handle_client($client);
    close($client);
}
note("IDLE exit");
