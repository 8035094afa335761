#include "paramui/textcodec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TextCodec, BytesMapToTheirCharacters) {
  struct Case {
    unsigned char byte;
    char16_t unicode;
  };
  const Case cases[] = {
      {0x41, u'A'},
      {0x80, 0x20AC},  // euro
      {0x8A, 0x0160},
      {0x99, 0x2122},
      {0x9F, 0x0178},
      {0xB0, 0x00B0},  // degree
      {0xA0, 0x00A0},
      {0xFF, 0x00FF},
      {0x00, 0x0000},
      // Undefined in 1252: kept as the C1 control of the same number.
      {0x81, 0x0081},
      {0x8D, 0x008D},
      {0x8F, 0x008F},
      {0x90, 0x0090},
      {0x9D, 0x009D},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(c.byte));
    const QString q = vx::ToQString(std::string(1, static_cast<char>(c.byte)));
    ASSERT_EQ(q.size(), 1);
    EXPECT_EQ(q.at(0).unicode(), c.unicode);
    EXPECT_EQ(vx::FromQString(q), std::string(1, static_cast<char>(c.byte)));
  }
}

TEST(TextCodec, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const QString q = vx::ToQString(all);
  EXPECT_EQ(q.size(), 256);
  EXPECT_EQ(vx::FromQString(q), all);
}

TEST(TextCodec, CharactersWithoutA1252FormBecomeQuestionMarks) {
  struct Case {
    QString text;
    std::string bytes;
  };
  const Case cases[] = {
      {QString::fromUtf8("100 \u00B0C"),
       "100 \xB0"
       "C"},
      {QString::fromUtf8("\u20AC 5"), "\x80 5"},
      {QString::fromUtf8("\u0394U"), "?U"},        // Greek capital delta
      {QString(QChar(0x0080)), "?"},               // a C1 control 1252 maps elsewhere
      {QString::fromUtf8("a\U0001F600b"), "a?b"},  // one mark for a surrogate pair
      {QString(QChar(0xD800)), "?"},               // a lone surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    EXPECT_EQ(vx::FromQString(c.text), c.bytes);
  }
}

}  // namespace
