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
