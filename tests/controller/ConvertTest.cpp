#include "controller/Convert.h"

#include <gtest/gtest.h>

#include <clocale>

namespace morvane {
namespace {

TEST(ConvertTest, IntegersInTheirForms) {
  const std::pair<const char*, int32_t> good[] = {{"00235", 235},
                                                  {"-0005", -5},
                                                  {"  42", 42},
                                                  {"+7", 7},
                                                  {"0x1F", 31},
                                                  {"$ff", 255},
                                                  {"2147483647", 2147483647},
                                                  {"-2147483648", INT32_MIN},
                                                  {"0xFFFFFFFF", -1}};
  for (auto& [text, value] : good) EXPECT_EQ(StrToInt(text), value) << text;
  for (const char* bad : {"", " ", "12 ", "1.5", "abc", "2147483648", "0x", "--1", "1e3"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid integer value");
    }
  }
}

TEST(ConvertTest, DecimalsReadWithAFullStopWhateverTheLocale) {
  // The module's field is a wire format; a comma locale must not change how it reads.
  const char* had = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = had ? had : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  const std::pair<const char*, double> good[] = {{"023.5", 23.5}, {"-12.2", -12.2}, {"+21.3", 21.3},
                                                 {" 7 ", 7.0},    {".5", 0.5},      {"1e2", 100.0}};
  for (auto& [text, value] : good) EXPECT_DOUBLE_EQ(StrToFloat(text), value) << text;
  for (const char* bad : {"", "21,3", "ab.cd", "1.2.3", "+-1", "nan", "inf"})
    EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
  std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
}  // namespace morvane
