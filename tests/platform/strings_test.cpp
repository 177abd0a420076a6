#include "platform/TStrings.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qor {
namespace {

TEST(TStrings, TextSplitsEveryLineBreakAndJoinsWithCrLf) {
  TStrings list;
  list.SetText("a\r\nb\nc\rd\r\n\r\ne\n");
  ASSERT_EQ(list.Count(), 6u);
  EXPECT_EQ(list[3], "d");
  EXPECT_EQ(list[4], "");
  EXPECT_EQ(list[5], "e");
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne");
  list.SetText("");
  EXPECT_TRUE(list.Empty());
  list.SetText("\n");
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(list[0], "");
}

TEST(TStrings, NameValueAccess) {
  TStrings list;
  list.SetText("SP=35\nrj=33\nsem igual\nURL=http://h/x?a=b");
  EXPECT_EQ(list.IndexOfName("RJ"), 1);
  EXPECT_EQ(list.Values("sp"), "35");
  EXPECT_EQ(list.Values("url"), "http://h/x?a=b");  // only the first '=' separates
  EXPECT_EQ(list.Values("MG"), "");
  EXPECT_EQ(list.IndexOfName("sem igual"), -1);
  EXPECT_EQ(list.Names(2), "");
  EXPECT_EQ(list.Names(3), "URL");
  EXPECT_EQ(list.ValueFromIndex(3), "http://h/x?a=b");
  EXPECT_EQ(list.IndexOf("SP=35"), 0);
  EXPECT_EQ(list.IndexOf("sp=35"), -1);

  list.SetValue("Rj", "99");
  EXPECT_EQ(list[1], "rj=99");
  list.SetValue("MG", "31");
  EXPECT_EQ(list[list.Count() - 1], "MG=31");
  EXPECT_THROW(list.Names(10), std::out_of_range);
}

TEST(TStrings, EditsAndChangeEvent) {
  TStrings list;
  int changes = 0;
  list.OnChange = [&](const TStrings& l) {
    ++changes;
    EXPECT_EQ(&l, &list);
  };
  list.Add("b");
  list.Insert(0, "a");
  list.Insert(2, "c");
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc");
  list.Delete(1);
  list.AddStrings(list);  // itself
  EXPECT_EQ(list.Text(), "a\r\nc\r\na\r\nc");
  list.SetValue("k", "v");
  list.Clear();
  EXPECT_EQ(changes, 7);
  EXPECT_THROW(list.Insert(1, "x"), std::out_of_range);
  EXPECT_THROW(list.Delete(0), std::out_of_range);
  EXPECT_EQ(changes, 7);
}

TEST(TStrings, TakeLinesHandsTheLinesOverAndEmptiesTheList) {
  TStrings list;
  list.SetText("a\r\nb");
  int changes = 0;
  list.OnChange = [&](const TStrings& l) {
    ++changes;
    EXPECT_TRUE(l.Empty()) << "the change is seen once the list is empty";
  };
  EXPECT_EQ(list.TakeLines(), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(changes, 1);
  list.OnChange = nullptr;
  list.Add("c");
  EXPECT_EQ(list.Text(), "c");
}

}  // namespace
}  // namespace qor
