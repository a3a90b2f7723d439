// The parameter decoder and the value parsers: a table at the boundaries, and a seeded fuzz.
#include <gtest/gtest.h>

#include <random>

#include "alpaca/AlpacaForm.h"

using namespace morvane::alpaca;

namespace {

TEST(AlpacaFormTest, DecodesAndLooksUpAsTheProtocolSays) {
  TParams p;
  ASSERT_TRUE(DecodeForm("Position=12&&clientid=%34%32&Name=a+b%26c&Flag", p));
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(*FindParam(p, "ClientID", false), "42");
  EXPECT_EQ(FindParam(p, "ClientID", true), nullptr);
  EXPECT_EQ(*FindParam(p, "Name", true), "a b&c");
  EXPECT_EQ(*FindParam(p, "Flag", true), "");
  for (const char* bad : {"a=%", "a=%4", "a=%zz", "%g1=1"}) EXPECT_FALSE(DecodeForm(bad, p)) << bad;
  std::string many;
  for (size_t i = 0; i <= MaxParams; ++i) many += "a=1&";
  EXPECT_FALSE(DecodeForm(many, p));
}

TEST(AlpacaFormTest, ValuesAreParsedStrictly) {
  const struct {
    const char* Text;
    std::optional<int32_t> Int;
    std::optional<bool> Bool;
    std::optional<uint32_t> Id;
  } rows[] = {
      {"0", 0, {}, 0u},
      {"-10", -10, {}, {}},
      {"2147483647", 2147483647, {}, 2147483647u},
      {"2147483648", {}, {}, 2147483648u},
      {"-2147483648", INT32_MIN, {}, {}},
      {"4294967295", {}, {}, 4294967295u},
      {"4294967296", {}, {}, {}},
      {"99999999999999999999999", {}, {}, {}},
      {"", {}, {}, {}},
      {" 1", {}, {}, {}},
      {"1.5", {}, {}, {}},
      {"+1", {}, {}, {}},
      {"-", {}, {}, {}},
      {"True", {}, true, {}},
      {"FALSE", {}, false, {}},
      {"123", 123, {}, 123u},
      {"truex", {}, {}, {}},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(ParseInt32(r.Text), r.Int) << r.Text;
    EXPECT_EQ(ParseBool(r.Text), r.Bool) << r.Text;
    EXPECT_EQ(ParseId(r.Text), r.Id) << r.Text;
  }
}

// Random text never breaks the decoder; random pairs, encoded, decode back to themselves.
TEST(AlpacaFormTest, FuzzedFormsDecodeSafelyAndRoundTrip) {
  std::mt19937 random(20261207);
  const std::string alphabet = "aZ09=&%+ -_.~\x01\xff";
  for (int i = 0; i < 20000; ++i) {
    std::string text(random() % 80, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    TParams p;
    if (DecodeForm(text, p)) {
      EXPECT_LE(p.size(), MaxParams);
    }
  }
  for (int i = 0; i < 2000; ++i) {
    TParams in(random() % 6);
    std::string encoded;
    for (TParam& param : in) {
      for (std::string* s : {&param.Name, &param.Value}) {
        s->resize(1 + random() % 12);
        for (char& c : *s) c = static_cast<char>(random() % 256);
        for (const char c : *s) {
          char hex[4];
          std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
          encoded += hex;
        }
        encoded += s == &param.Name ? "=" : "&";
      }
    }
    TParams out;
    ASSERT_TRUE(DecodeForm(encoded, out)) << encoded;
    ASSERT_EQ(out.size(), in.size());
    for (size_t k = 0; k < in.size(); ++k) {
      EXPECT_EQ(out[k].Name, in[k].Name);
      EXPECT_EQ(out[k].Value, in[k].Value);
    }
  }
}

}  // namespace
