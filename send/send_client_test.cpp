// send/send_client_test.cpp - corvsend's argument forms and its choice of SNPP server.
#include "send/send_client.h"

#include <gtest/gtest.h>

#include <fstream>

#include "directory/page_ini.h"

namespace send {
namespace {

std::string MessageFile(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + "send_" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(SendArguments, FormsThatDoNotFitAreRefused) {
  std::string id, msg;
  EXPECT_FALSE(ParseArguments({}, id, msg));
  EXPECT_FALSE(ParseArguments({"Bill"}, id, msg));  // one argument must begin with "@"
  EXPECT_FALSE(ParseArguments({"a", "b", "c"}, id, msg));
  EXPECT_FALSE(ParseArguments({"@" + ::testing::TempDir() + "send_none.txt"}, id, msg));
  EXPECT_FALSE(ParseArguments({"Bill", "@" + ::testing::TempDir() + "send_none.txt"}, id, msg));
  // Safe choice: an empty file, or an empty first line, names nobody.
  EXPECT_FALSE(ParseArguments({"@" + MessageFile("empty.txt", "")}, id, msg));
  EXPECT_FALSE(ParseArguments({"@" + MessageFile("blank.txt", "\nHello\n")}, id, msg));
}

TEST(SendArguments, IdAndMessageFromArgumentsOrFiles) {
  std::string id, msg;
  ASSERT_TRUE(ParseArguments({"Bill", "My message"}, id, msg));
  EXPECT_EQ(id, "Bill");
  EXPECT_EQ(msg, "My message");

  ASSERT_TRUE(ParseArguments({"Bill", "@" + MessageFile("long.txt", std::string(1000, 'm'))}, id, msg));
  EXPECT_EQ(msg, std::string(300, 'm'));

  ASSERT_TRUE(ParseArguments({"@" + MessageFile("whole.txt", "Bill\r\nLine one\nLine two\n")}, id, msg));
  EXPECT_EQ(id, "Bill");
  EXPECT_EQ(msg, "Line one\nLine two\n");

  // A first line over 99 characters is split; its remainder starts the message.
  ASSERT_TRUE(ParseArguments({"@" + MessageFile("split.txt", std::string(120, 'a') + "\nrest")}, id, msg));
  EXPECT_EQ(id, std::string(99, 'a'));
  EXPECT_EQ(msg, std::string(21, 'a') + "\nrest");

  ASSERT_TRUE(ParseArguments({std::string(200, 'i'), "x"}, id, msg));
  EXPECT_EQ(id.size(), kRecipientLength);
}

TEST(SendResolve, OverrideHostForPersonsOfTheSystemOnly) {
  directory::Directory dir;
  directory::PageIniSettings settings;
  directory::PageIniHooks hooks;
  const std::string ini =
      "GlobalSection\nHostName = 'main.host'\nTcpPort = 6000\n"
      "PagerSystemsSection\n"
      "[Far]\nPort = 'COM1'\nOverrideHostName = 'far.host'\nOverrideTcpPort = 7000\n"
      "[NoPort]\nPort = 'COM2'\nOverrideHostName = 'other.host'\n"
      "[Plain]\nPort = 'COM3'\n"
      "NameSection\n"
      "[Bill]\nPageID = '1'\nPagerType = Alphanumeric\nSystemName = 'Far'\nGroup = 'Sales'\n"
      "[Cy]\nPageID = '2'\nPagerType = Alphanumeric\nSystemName = 'NoPort'\n"
      "[Dee]\nPageID = '3'\nPagerType = Alphanumeric\nSystemName = 'Plain'\n";
  ASSERT_EQ(directory::ParsePageIniText(ini, "page.ini", dir, settings, hooks), 0);

  const SnppServer bill = ResolveServer(dir, settings, "bill");  // names match in any case
  EXPECT_EQ(bill.Host, "far.host");
  EXPECT_EQ(bill.Port, 7000);
  const SnppServer cy = ResolveServer(dir, settings, "Cy");  // no OverrideTcpPort: TcpPort
  EXPECT_EQ(cy.Host, "other.host");
  EXPECT_EQ(cy.Port, 6000);
  for (const char* id : {"Dee", "Sales", "5551212"}) {
    const SnppServer s = ResolveServer(dir, settings, id);
    EXPECT_EQ(s.Host, "main.host") << id;
    EXPECT_EQ(s.Port, 6000) << id;
  }
}

}  // namespace
}  // namespace send
