#include "base/string_sink.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

// Bytes, small writes and writes bigger than the gathering buffer, mixed:
// everything arrives once and in order.
TEST(StringSinkTest, MixedWritesArriveInOrder) {
  StringSink sink;
  std::string expected;
  const std::string big(10000, 'b');
  for (int round = 0; round < 3; ++round) {
    sink.put('x');
    expected += 'x';
    sink << "text" << round;
    expected += "text" + std::to_string(round);
    sink.write(big.data(), static_cast<std::streamsize>(big.size()));
    expected += big;
    for (int i = 0; i < 5000; ++i) sink.put(static_cast<char>('a' + i % 26));
    for (int i = 0; i < 5000; ++i) expected += static_cast<char>('a' + i % 26);
  }
  ASSERT_TRUE(sink.good());
  EXPECT_EQ(sink.Take(), expected);
  EXPECT_EQ(sink.Take(), "");
  sink << "again";
  EXPECT_EQ(sink.Take(), "again");
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// A string given back lends its room to the next sink, which starts empty;
// with none kept, a new one comes with the room of the largest seen.
TEST(SpareStringsTest, RoomIsReusedContentIsNot) {
  SpareStrings spare;
  StringSink first(spare.Take());
  first << std::string(100000, 'a');
  std::string done = first.Take();
  const char* room = done.data();
  spare.Give(std::move(done));

  std::string again = spare.Take();
  EXPECT_EQ(again.data(), room);
  StringSink second(std::move(again));
  second << "new";
  std::string written = second.Take();
  EXPECT_EQ(written, "new");
  EXPECT_EQ(written.data(), room);

  EXPECT_GE(spare.Take().capacity(), size_t{100000});  // none kept: a new one, as roomy
  spare.Release();
  EXPECT_LT(spare.Take().capacity(), size_t{100000});
}

}  // namespace
}  // namespace velmora
