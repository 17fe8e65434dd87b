// popgate/pop_reply.h - POP3 replies from the bytes a server sends: the status line ("+OK"
// or "-ERR"), the body of a multi-line reply with its dot stuffing removed, ended by the
// line that holds only ".", and the mail count of a STAT reply. Pure: no connection, no
// clock and no log, so any byte string a server may send can be tried in a test.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "popgate/mail_rules.h"

namespace popgate {

constexpr size_t kReplyLineMax = 999;  // characters of one line kept to judge and to show

// One poll handles at most this many mails. The rest stay on the server and are taken by
// the next poll, numbered from 1 again because the handled ones were deleted; so a STAT
// count no mailbox of a paging gateway holds (a broken or hostile server) cannot keep one
// poll busy with millions of RETRs.
constexpr int kMaxMailsPerPoll = 1000;

enum class PopStatus : int {
  kNone,  // the status line has not ended yet
  kOk,    // "+OK"
  kErr,   // "-ERR"
  kBad,   // a line that is neither: not a POP3 reply
};

// Reads one reply fed to it in pieces of any size. A line ends at a line feed, with or
// without a carriage return before it.
class PopReplyParser {
 public:
  // multiLine: a "+OK" status line is followed by a body up to the line holding only "."
  // (RETR); otherwise the status line is the whole reply. capacity: bytes of the reply
  // kept as received, the status line and the closing dot line included.
  explicit PopReplyParser(bool multiLine, size_t capacity = kMailBufferSize - 1);

  // Takes bytes up to and including the first line feed among them, or all of them when
  // there is none; nothing once the reply is complete. Returns the bytes taken: the rest
  // belongs to whatever follows and is fed again.
  size_t Feed(std::string_view bytes);

  bool Done() const { return done_; }
  // The last Feed ended a line, which Line() holds until the next Feed.
  bool LineEnded() const { return lineEnded_; }
  // The last ended line without its line end, cut to kReplyLineMax characters.
  const std::string& Line() const { return line_; }

  PopStatus Status() const { return status_; }
  const std::string& StatusLine() const { return statusLine_; }  // cut like Line()

  // The reply as received, its first capacity bytes. Cut() when more came and was dropped
  // (the reply is still read to its end).
  const std::string& Raw() const { return raw_; }
  bool Cut() const { return cut_; }
  // Raw with the dot stuffing removed: the status line, the body lines and the closing
  // dot line, each with its line end as received. What the mail rules read.
  const std::string& Text() const { return text_; }
  // The body within Text: from the status line's end to the closing dot line (or to the
  // end of what is held while the reply is incomplete or was cut).
  std::string_view Body() const;

 private:
  void TakeByte(char c);
  void EndLine();
  void Keep(char c, bool inText);

  bool multiLine_;
  size_t capacity_;
  bool done_ = false;
  bool lineEnded_ = false;
  bool inBody_ = false;
  std::string current_;       // the line being read, at most kReplyLineMax + 1 characters
  size_t lineLength_ = 0;     // characters of that line so far, however many were kept
  size_t lineTextStart_ = 0;  // where that line starts in text_
  std::string line_;          // the last ended line
  PopStatus status_ = PopStatus::kNone;
  std::string statusLine_;
  std::string raw_;
  std::string text_;
  bool cut_ = false;
  size_t bodyStart_ = 0;  // in text_
  size_t bodyEnd_ = 0;    // in text_, set when the closing dot line has been seen
};

// The mail count of a STAT reply's status line: "+OK 2 320" gives 2. 0 for another status,
// a missing or negative number; at most kMaxMailsPerPoll.
int StatMailCount(std::string_view statusLine);

}  // namespace popgate
