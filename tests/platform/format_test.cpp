#include "platform/Format.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qor {
namespace {

TEST(Format, PatternsOfTheComponentMessages) {
  EXPECT_EQ(Format("Servidor para %s não definido no arquivo: %s", {"NfeStatusServico4", "a.ini"}),
            "Servidor para NfeStatusServico4 não definido no arquivo: a.ini");
  EXPECT_EQ(Format("ID%s%s%2.2d", {"110111", "3519", 5}), "ID110111351905");
  EXPECT_EQ(Format("ID%s%s%2.2d", {"110111", "3519", 12}), "ID110111351912");
  EXPECT_EQ(Format("%2.2d", {123}), "123");  // precision is a minimum, never a cut
  EXPECT_EQ(Format("%.3d", {-5}), "-005");
  EXPECT_EQ(Format("[%s] %d - %s : %s", {"01/02/2025 10:11:12:013", 4242L, "EqorX", "msg"}),
            "[01/02/2025 10:11:12:013] 4242 - EqorX : msg");
  EXPECT_EQ(Format("100%% de %s", {"acerto"}), "100% de acerto");
  EXPECT_EQ(Format("sem argumentos", {}), "sem argumentos");
}

TEST(Format, ArgumentsAsText) {
  EXPECT_EQ(Format("%s", {42}), "42");
  EXPECT_EQ(Format("%s", {-7LL}), "-7");
  EXPECT_EQ(Format("%s", {1.5}), "1.5");
  EXPECT_EQ(Format("%s", {static_cast<const char*>(nullptr)}), "");
  EXPECT_EQ(Format("%d", {18446744073709551615ULL}), "-1");  // only 64 signed bits travel
}

TEST(Format, FixedPoint) {
  EXPECT_EQ(Format("%.2f", {10.006}), "10.01");
  EXPECT_EQ(Format("%.2f", {2.675}), "2.67");  // the double below 2.675 rounds down, exactly
  EXPECT_EQ(Format("%.2f", {1234.5}), "1234.50");
  EXPECT_EQ(Format("%.0f", {2.5}), "2");
  EXPECT_EQ(Format("%.4f", {3}), "3.0000");
  EXPECT_EQ(Format("%f", {1.0}), "1.00");
  EXPECT_EQ(Format("%.2f", {-0.125}), "-0.12");
}

TEST(Format, WidthFlagsAndHex) {
  EXPECT_EQ(Format("[%5s]", {"ab"}), "[   ab]");
  EXPECT_EQ(Format("[%-5s]", {"ab"}), "[ab   ]");
  EXPECT_EQ(Format("[%5s]", {"çã"}), "[   çã]");  // width counts characters, not bytes
  EXPECT_EQ(Format("[%.2s]", {"ção"}), "[çã]");
  EXPECT_EQ(Format("[%4d]", {7}), "[   7]");
  EXPECT_EQ(Format("[%-4d]", {7}), "[7   ]");
  EXPECT_EQ(Format("[%04d]", {-7}), "[-007]");
  EXPECT_EQ(Format("%x %X %4.4x", {255, 255, 10}), "ff FF 000a");
  EXPECT_EQ(Format("%X", {-1}), "FFFFFFFF");
  EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b"}), "b a b");
  EXPECT_EQ(Format("[%*d]", {3, 1}), "[  1]");
}

TEST(Format, ProgrammingErrorsThrow) {
  EXPECT_THROW(Format("%s %s", {"um"}), std::invalid_argument);
  EXPECT_THROW(Format("%d", {"doze"}), std::invalid_argument);
  EXPECT_THROW(Format("%d", {1.5}), std::invalid_argument);
  EXPECT_THROW(Format("%f", {"x"}), std::invalid_argument);
  EXPECT_THROW(Format("%q", {1}), std::invalid_argument);
  EXPECT_THROW(Format("fim %", {}), std::invalid_argument);
  EXPECT_THROW(Format("%5", {1}), std::invalid_argument);
}

}  // namespace
}  // namespace qor
