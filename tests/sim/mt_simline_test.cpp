// The simulator on a paced line: the master side of its pseudo-terminal sees the answer's
// characters arrive at the line's character time, after the request's own wire time and
// the turnaround, and a request with a gap inside is dropped only when gaps are strict.
// Bounds are one-sided where load could break them: a busy machine only makes things late.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "mbwire/mbframe.h"
#include "mbwire/mbserial.h"
#include "sim/serveddrive.h"
#include "sim/simline.h"
#include "sim/simoptions.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

struct Arrival {
  Clock::time_point at;
  uint8_t byte;
};

vx::SimLineFormat Format(const std::string& text) {
  vx::SimLineFormat f;
  std::string error;
  EXPECT_TRUE(vx::ParseSimLineFormat(text, f, error)) << error;
  return f;
}

vxtest::ServedDrive Serve(const vx::SimLineFormat& format, nanoseconds turnaround, bool strict) {
  vx::SimServerOptions options;
  options.serial = format.Serial();
  options.line = vx::SimLineTiming::Of(format, turnaround, strict);
  return vxtest::ServedDrive(vxtest::Line::kRtu, options, "simline");
}

// The terminal's end of the line, raw.
class Master {
 public:
  Master(const std::string& link, const vx::SimLineFormat& format) {
    std::string error;
    EXPECT_TRUE(port_.Open(link, format.Serial(), &error)) << error;
  }
  void Write(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::write(port_.Fd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until `count` bytes are in, each with the time its read returned; fewer when
  // nothing more comes within a generous limit.
  std::vector<Arrival> Read(std::size_t count) {
    std::vector<Arrival> got;
    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (got.size() < count && Clock::now() < limit) {
      pollfd p{port_.Fd(), POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      uint8_t buf[256];
      const ssize_t n = ::read(port_.Fd(), buf, sizeof buf);
      const auto now = Clock::now();
      for (ssize_t i = 0; i < n; ++i) got.push_back({now, buf[i]});
    }
    return got;
  }

 private:
  vx::MBSerialPort port_;
};

std::vector<uint8_t> Bytes(const std::vector<Arrival>& a) {
  std::vector<uint8_t> b;
  for (const Arrival& x : a) b.push_back(x.byte);
  return b;
}

double Chars(Clock::duration d, nanoseconds charTime) {
  return std::chrono::duration<double>(d).count() / std::chrono::duration<double>(charTime).count();
}

TEST(SimLineFormat, ParsesWhatAConnectionOffersAndCountsItsBits) {
  struct Case {
    const char* text;
    int32_t baud;
    int halfBits;  // of one character
  };
  const Case cases[] = {
      {"19200,8E1", 19200, 22}, {"115200,8N1", 115200, 20}, {"9600,7O2", 9600, 22},
      {"4800,8S1.5", 4800, 23}, {"1200,7m1", 1200, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const vx::SimLineFormat f = Format(c.text);
    EXPECT_EQ(f.baudRate, c.baud);
    EXPECT_EQ(f.CharTime().count(), int64_t{c.halfBits} * 500000000 / c.baud);
  }
  for (const char* bad : {"19200", "19200,", "19200,9E1", "19200,8X1", "19200,8E3", "0,8E1",
                          "fast,8E1", "19200,8E1.5x"}) {
    vx::SimLineFormat f;
    std::string error;
    EXPECT_FALSE(vx::ParseSimLineFormat(bad, f, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  // The drive's turnaround: 3.5 characters unless given.
  const vx::SimLineTiming t = vx::SimLineTiming::Of(Format("19200,8E1"), nanoseconds(-1), false);
  EXPECT_EQ(t.turnaround, t.charTime * 7 / 2);
  EXPECT_EQ(t.frameGap, t.charTime * 7 / 2);
  // Above 19200 baud the fixed gaps of the serial line.
  const vx::SimLineTiming fast = vx::SimLineTiming::Of(Format("115200,8E1"), nanoseconds(0), true);
  EXPECT_EQ(fast.frameGap, std::chrono::microseconds(1750));
  EXPECT_EQ(fast.charGap, std::chrono::microseconds(750));
  EXPECT_EQ(fast.turnaround, nanoseconds(0));
}

TEST(SimLineOptions, GoTogetherOnlyWithALine) {
  const auto parse = [](std::vector<std::string> args, std::string* error) {
    vx::SimOptions o;
    args.insert(args.begin(), {"--pty", "/tmp/x"});
    return vx::ParseSimOptions(args, o, *error);
  };
  std::string error;
  EXPECT_TRUE(parse({"--line", "19200,8E1", "--turnaround", "2.5", "--strict-gaps"}, &error))
      << error;
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--turnaround", "2"},
                                             {"--strict-gaps"},
                                             {"--line", "19200,8E1", "--baud", "9600"},
                                             {"--line", "19200,8E1", "--parity", "odd"},
                                             {"--line", "19200,8E1", "--turnaround", "-1"},
                                             {"--line", "19200,8Q1"}}) {
    error.clear();
    EXPECT_FALSE(parse(bad, &error)) << bad.front();
    EXPECT_FALSE(error.empty());
  }
}

// A long answer arrives a character at a time: it takes about its characters' time, and
// no character comes before the request, the turnaround and the characters before it
// could have crossed the wire.
TEST(SimOnAPacedLine, WritesTheAnswerAtTheCharacterTime) {
  struct Case {
    const char* line;
    double turnaroundMs;  // negative: the default
  };
  for (const Case& c : {Case{"4800,8E1", -1.0}, Case{"2400,7N2", 40.0}}) {
    SCOPED_TRACE(c.line);
    const vx::SimLineFormat format = Format(c.line);
    const nanoseconds turnaround(static_cast<int64_t>(c.turnaroundMs * 1e6));
    vxtest::ServedDrive sim = Serve(format, turnaround, false);
    const vx::SimLineTiming timing = vx::SimLineTiming::Of(format, turnaround, false);
    Master master(sim.Link(), format);

    // The RAM setup, 41 registers: an answer of about ninety characters.
    const std::vector<uint8_t> request =
        vx::EncodeRtu(std::vector<uint8_t>{1, 0x03, 0, 100, 0, 41});
    const auto sent = Clock::now();
    master.Write(request);
    std::vector<Arrival> head = master.Read(3);
    ASSERT_GE(head.size(), 3u);
    ASSERT_EQ(head[1].byte, 0x03) << "an exception answer";
    const std::size_t n = 3u + head[2].byte + 2u;
    if (head.size() < n) {
      const std::vector<Arrival> rest = master.Read(n - head.size());
      head.insert(head.end(), rest.begin(), rest.end());
    }
    ASSERT_EQ(head.size(), n);
    ASSERT_TRUE(vx::RtuCrcOk(Bytes(head)));

    const nanoseconds ct = timing.charTime;
    const double slack = 0.5;  // characters: clock reading and rounding
    // Request on the wire, turnaround, then the characters up to each one.
    const double before = static_cast<double>(request.size()) + Chars(timing.turnaround, ct);
    EXPECT_GE(Chars(head.front().at - sent, ct), before + 1 - slack);
    EXPECT_GE(Chars(head.back().at - sent, ct), before + static_cast<double>(n) - slack);
    const double span = Chars(head.back().at - head.front().at, ct);
    const double wire = static_cast<double>(n - 1);
    EXPECT_GE(span, 0.5 * wire) << "the answer came nearly all at once";
    EXPECT_LE(span, 2.0 * wire + Chars(std::chrono::seconds(1), ct)) << "far slower than the line";
    // Written a character or a few at a time, not in one piece.
    std::size_t reads = 1;
    for (std::size_t i = 1; i < n; ++i) reads += head[i].at != head[i - 1].at ? 1 : 0;
    EXPECT_GE(reads, n / 10) << "the answer came in " << reads << " pieces";
  }
}

// The request is written in two pieces with a pause: a strict drive drops it, a lenient
// one answers it. The request after it is answered either way, and what came back shows
// whether the first was.
TEST(SimOnAPacedLine, DropsARequestWithAGapInsideOnlyWhenGapsAreStrict) {
  for (const bool strict : {true, false}) {
    SCOPED_TRACE(strict ? "strict" : "lenient");
    // Slow enough for a gap between 1.5 and 3.5 characters (13.8 to 32 ms) to be made
    // with a pause: the frame goes on but is spoilt. A pause that a busy machine
    // stretches beyond that ends the frame at the silence instead; dropped all the same.
    const vx::SimLineFormat format = Format("1200,8E1");
    vxtest::ServedDrive sim = Serve(format, nanoseconds(-1), strict);
    Master master(sim.Link(), format);

    const std::vector<uint8_t> split = vx::EncodeRtu(std::vector<uint8_t>{1, 0x03, 0, 200, 0, 2});
    const std::vector<uint8_t> whole = vx::EncodeRtu(std::vector<uint8_t>{1, 0x03, 0, 200, 0, 1});
    master.Write({split.begin(), split.begin() + 1});
    // The gap itself: the pause less the address character's own 9.2 ms on the wire,
    // well within the 100 ms a lenient drive waits for the rest of a frame.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    // The rest and the next request in one piece: no gap between the two.
    std::vector<uint8_t> more(split.begin() + 1, split.end());
    more.insert(more.end(), whole.begin(), whole.end());
    master.Write(more);

    const std::size_t first = 3 + 4 + 2, second = 3 + 2 + 2;
    const std::vector<uint8_t> got = Bytes(master.Read(strict ? second : first + second));
    if (strict) {
      ASSERT_EQ(got.size(), second);
      EXPECT_EQ(got[2], 2) << "the answer to the whole request";
      EXPECT_TRUE(vx::RtuCrcOk(got));
    } else {
      ASSERT_EQ(got.size(), first + second);
      EXPECT_EQ(got[2], 4) << "the split request answered first";
      EXPECT_TRUE(vx::RtuCrcOk(std::vector<uint8_t>(got.begin(), got.begin() + first)));
      EXPECT_TRUE(vx::RtuCrcOk(std::vector<uint8_t>(got.begin() + first, got.end())));
    }
  }
}

// Two requests in one write reach the drive in one read, as when a busy drive reads late
// after the master's silence: each is a frame of its own and each is answered, paced or not.
TEST(SimOnALine, AnswersBothOfTwoRequestsThatComeInOneRead) {
  for (const bool paced : {false, true}) {
    SCOPED_TRACE(paced ? "paced" : "unpaced");
    const vx::SimLineFormat format = Format("19200,8E1");
    vx::SimServerOptions options;
    options.serial = format.Serial();
    if (paced) options.line = vx::SimLineTiming::Of(format, nanoseconds(-1), false);
    vxtest::ServedDrive sim(vxtest::Line::kRtu, options, "simline");
    Master master(sim.Link(), format);
    std::vector<uint8_t> both = vx::EncodeRtu(std::vector<uint8_t>{1, 0x03, 0, 200, 0, 2});
    const std::vector<uint8_t> second = vx::EncodeRtu(std::vector<uint8_t>{1, 0x03, 0, 200, 0, 1});
    both.insert(both.end(), second.begin(), second.end());
    master.Write(both);
    const std::vector<uint8_t> got = Bytes(master.Read(9 + 7));
    ASSERT_EQ(got.size(), 16u);
    EXPECT_EQ(got[2], 4);
    EXPECT_EQ(got[9 + 2], 2);
    EXPECT_TRUE(vx::RtuCrcOk(std::vector<uint8_t>(got.begin(), got.begin() + 9)));
    EXPECT_TRUE(vx::RtuCrcOk(std::vector<uint8_t>(got.begin() + 9, got.end())));
  }
}

}  // namespace
