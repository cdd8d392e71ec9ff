#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/telnet_link.h"

namespace {

using namespace std::string_literals;

std::string Str(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(TelnetLinkTest, EscapesEvery0xFF) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"\xff", "\xff\xff"}, {"a\xff\xff" "b", "a\xff\xff\xff\xff" "b"}, {"\x7f\xfe", "\x7f\xfe"}};
  for (const auto& c : cases) {
    std::vector<uint8_t> wire;
    TelnetLink::Escape(reinterpret_cast<const uint8_t*>(c.first.data()), c.first.size(), &wire);
    EXPECT_EQ(Str(wire), c.second);
  }
}

// What the server sends, in the pieces it arrives in, after the client's
// opening requests; the line's data and the client's answers.
TEST(TelnetLinkTest, TakesCommandsOutOfTheStreamWhereverItIsCut) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::string data;
    std::string reply;
    OptionState comPort;
  } cases[] = {
      {"escaped 0xFF", {"ab\xff\xff" "c"}, "ab\xff" "c", "", OptionState::kPending},
      {"escape cut in two", {"a\xff", "\xff" "b"}, "a\xff" "b", "", OptionState::kPending},
      {"request cut in three", {"x\xff", "\xfd", "\x18y"}, "xy", "\xff\xfc\x18", OptionState::kPending},
      {"unknown offers refused", {"\xff\xfb\x01\xff\xfd\x01"}, "", "\xff\xfe\x01\xff\xfc\x01",
       OptionState::kPending},
      {"NOP and go-ahead dropped", {"a\xff\xf1" "b\xff\xf9" "c"}, "abc", "", OptionState::kPending},
      {"our requests confirmed, not answered again",
       {"\xff\xfd\x00\xff\xfb\x00\xff\xfd\x03\xff\xfd\x2c\xff\xfd\x2c"s}, "", "",
       OptionState::kAccepted},
      {"COM port option refused", {"\xff\xfe", "\x2c" "z"}, "z", "", OptionState::kRefused},
      {"notifications dropped", {"\xff\xfa\x2c\x6b\x30\xff\xf0" "d\xff\xfa\x2c\x6a", "\x00\xff\xf0"s},
       "d", "", OptionState::kPending},
      {"CR NUL outside binary mode", {"a\r", "\0b"s}, "a\rb", "", OptionState::kPending},
      {"CR NUL in binary mode", {"\xff\xfb\x00" "a\r"s, "\0b"s}, "a\r\0b"s,
       "", OptionState::kPending},
      {"overlong subnegotiation ignored", {"\xff\xfa\x2c" + std::string(200, 'q') + "\xff\xf0" "e"},
       "e", "", OptionState::kPending},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TelnetLink link;
    std::vector<uint8_t> opening;
    link.Start(&opening);
    ASSERT_EQ(Str(opening), "\xff\xfb\x00\xff\xfd\x00\xff\xfb\x03\xff\xfd\x03\xff\xfb\x2c"s);
    std::vector<uint8_t> data, reply;
    for (const std::string& p : c.pieces) {
      link.Receive(reinterpret_cast<const uint8_t*>(p.data()), p.size(), &data, &reply);
    }
    EXPECT_EQ(Str(data), c.data);
    EXPECT_EQ(Str(reply), c.reply);
    EXPECT_EQ(link.ComPort(), c.comPort);
  }
}

TEST(TelnetLinkTest, MatchesEachAnswerToItsSetting) {
  auto setting = [](const char* text) {
    for (const ComSetting& s : LineSettings()) {
      if (std::string(s.text) == text) return s;
    }
    ADD_FAILURE() << text;
    return LineSettings().front();
  };
  TelnetLink link;
  std::vector<uint8_t> data, reply;
  // Baud rate cut inside its value (0x0001C200, 115200), then DTR and the
  // flow control's answers to the one control code.
  const std::string in[] = {"\xff\xfa\x2c\x65\x00\x01"s, "\xc2\x00\xff"s, "\xf0",
                            "\xff\xfa\x2c\x69\x08\xff\xf0\xff\xfa\x2c\x69\x01\xff\xf0"s};
  for (const std::string& p : in) {
    link.Receive(reinterpret_cast<const uint8_t*>(p.data()), p.size(), &data, &reply);
  }
  uint32_t value = 0;
  ASSERT_TRUE(link.Answer(setting("the baud rate 115200"), &value));
  EXPECT_EQ(value, 115200u);
  ASSERT_TRUE(link.Answer(setting("DTR on"), &value));
  EXPECT_EQ(value, 8u);
  ASSERT_TRUE(link.Answer(setting("no flow control"), &value));
  EXPECT_EQ(value, 1u);
  EXPECT_FALSE(link.Answer(setting("RTS on"), &value));
  EXPECT_FALSE(link.Answer(setting("8 data bits"), &value));
  EXPECT_TRUE(data.empty());

  // A baud rate holding 0xFF goes out escaped inside the subnegotiation.
  std::vector<uint8_t> wire;
  TelnetLink::Request(ComSetting{telnet::kSetBaudRate, 0xFF00, "x", true}, &wire);
  EXPECT_EQ(Str(wire), "\xff\xfa\x2c\x01\x00\x00\xff\xff\x00\xff\xf0"s);
}

}  // namespace
