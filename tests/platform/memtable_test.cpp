#include "platform/MemTable.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/GovException.h"
#include "support/Expect.h"

using qor::EqorGovException;
using qor::TDataSetState;
using qor::TqorMemTable;

namespace {

// Posts one record per value of `field`.
void AddRows(TqorMemTable& t, const std::string& field, const std::vector<std::string>& values) {
  for (const auto& v : values) {
    t.Append();
    t.SetValue(field, v);
    t.Post();
  }
}

// Values of `field` over the visible records, walking the cursor.
std::vector<std::string> Column(TqorMemTable& t, const std::string& field) {
  std::vector<std::string> out;
  for (t.First(); !t.Eof(); t.Next()) out.push_back(t.Value(field));
  return out;
}

}  // namespace

TEST(MemTable, FieldsAndLookup) {
  TqorMemTable t("B");
  t.AddField("cUF_B02", 2, true, true, "Código da UF");
  t.AddField("handle", 10, false, false);
  EXPECT_THROW(t.AddField("CUF_b02"), EqorGovException);  // duplicate ignoring case
  EXPECT_EQ(t.FieldByName("CUF_B02"), 0u);
  EXPECT_EQ(t.Field(1).displayLabel, "handle");  // defaults to the name
  EXPECT_EQ(t.FindField("nada"), -1);
  EXPECT_NE(qor::test::MessageOf<EqorGovException>([&] { t.FieldByName("nada"); }).find("nada"),
            std::string::npos);
  t.Open();
  EXPECT_THROW(t.AddField("late"), EqorGovException);
  // Size and required are metadata: a long value in a required field posts, so does a blank one.
  t.Append();
  t.SetValue("cUF_B02", "123456");
  t.Post();
  t.Append();
  t.Post();
  EXPECT_EQ(Column(t, "cuf_b02"), (std::vector<std::string>{"123456", ""}));
}

TEST(MemTable, StatesTransitionsAndWrongStateErrors) {
  TqorMemTable t("I");
  t.AddField("cProd_I02");
  t.AddField("xProd_I04");
  EXPECT_THROW(t.Append(), EqorGovException);  // inactive
  EXPECT_THROW(t.Value("cProd_I02"), EqorGovException);
  t.Open();
  EXPECT_TRUE(t.Eof());
  EXPECT_THROW(t.Edit(), EqorGovException);  // no current record
  EXPECT_THROW(t.Post(), EqorGovException);
  EXPECT_THROW(t.SetValue("cProd_I02", "x"), EqorGovException);
  EXPECT_EQ(t.Value("cProd_I02"), "");

  t.Append();
  EXPECT_EQ(t.State(), TDataSetState::dsInsert);
  EXPECT_THROW(t.Append(), EqorGovException);
  EXPECT_THROW(t.Next(), EqorGovException);
  EXPECT_EQ(t.RecordCount(), 0u);  // pending record not counted
  t.SetValue("cProd_I02", "1");
  t.Post();
  AddRows(t, "cProd_I02", {"2", "3"});
  EXPECT_EQ(t.RecordCount(), 3u);
  EXPECT_EQ(t.Value("cProd_I02"), "3");  // cursor on the last posted record
  EXPECT_EQ(Column(t, "cProd_I02"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(t.Value("cProd_I02"), "3");  // Next past the end stays on the last record

  // Cancel restores the values of an edit and drops an insert.
  t.First();
  t.Edit();
  EXPECT_EQ(t.State(), TDataSetState::dsEdit);
  t.SetValue("cProd_I02", "changed");
  EXPECT_EQ(t.Value("cProd_I02"), "changed");
  t.Cancel();
  EXPECT_EQ(t.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(t.Value("cProd_I02"), "1");
  t.Append();
  t.SetValue("cProd_I02", "dropped");
  t.Cancel();
  EXPECT_EQ(t.RecordCount(), 3u);
  EXPECT_EQ(t.Value("cProd_I02"), "1");
  t.Edit();
  t.SetValue("xProd_I04", "kept");
  t.Post();
  EXPECT_EQ(t.Value("xProd_I04"), "kept");
  EXPECT_EQ(t.Value("cProd_I02"), "1");  // an edit starts from the stored values

  t.Append();
  t.Empty();
  EXPECT_EQ(t.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(t.RecordCount(), 0u);
}

TEST(MemTable, MasterDetailFiltersAndFillsKey) {
  TqorMemTable h("H"), i("I"), di("DI"), adi("ADI");
  h.AddField("handle");
  i.AddField("handle");
  i.AddField("hH");
  i.AddField("cProd_I02");
  di.AddField("handle");
  di.AddField("hH");
  adi.AddField("hDI");
  adi.AddField("nAdicao_I26");
  i.SetMaster(&h, "hH", "handle");
  di.SetMaster(&h, "HH", "HANDLE");
  adi.SetMaster(&di, "hDI", "handle");
  EXPECT_THROW(h.SetMaster(&adi, "handle", "hDI"), EqorGovException);  // circular
  for (TqorMemTable* t : {&h, &i, &di, &adi}) t->Open();
  EXPECT_THROW(i.Append(), EqorGovException);  // no master record to hang it on

  for (int item = 1; item <= 2; ++item) {
    const std::string n = std::to_string(item);
    h.Append();
    h.SetValue("handle", n);
    i.Append();  // master still pending: its value is the key
    EXPECT_EQ(i.Value("hH"), n);
    i.SetValue("cProd_I02", "P" + n);
    i.Post();
    for (int d = 1; d <= item; ++d) {
      di.Append();
      di.SetValue("handle", n + std::to_string(d));
      adi.Append();
      adi.SetValue("nAdicao_I26", "A" + n + std::to_string(d));
      adi.Post();
      di.Post();
    }
    h.Post();
  }
  h.First();
  EXPECT_EQ(Column(i, "cProd_I02"), (std::vector<std::string>{"P1"}));
  EXPECT_EQ(Column(di, "handle"), (std::vector<std::string>{"11"}));
  h.Next();
  EXPECT_EQ(Column(i, "cProd_I02"), (std::vector<std::string>{"P2"}));
  EXPECT_EQ(Column(di, "handle"), (std::vector<std::string>{"21", "22"}));
  di.First();  // grand-detail follows its own master
  di.Next();
  EXPECT_EQ(Column(adi, "nAdicao_I26"), (std::vector<std::string>{"A22"}));
  // Moves nobody read in between still reach the grand-detail, through its master.
  h.First();
  h.Next();
  h.First();
  EXPECT_EQ(Column(adi, "nAdicao_I26"), (std::vector<std::string>{"A11"}));
  h.Next();
  EXPECT_EQ(adi.Value("nAdicao_I26"), "A21");

  // Re-keying a detail record moves it to the other master.
  i.First();
  i.Edit();
  i.SetValue("hH", "1");
  i.Post();
  EXPECT_EQ(i.RecordCount(), 0u);
  h.First();
  EXPECT_EQ(Column(i, "cProd_I02"), (std::vector<std::string>{"P1", "P2"}));

  // A pending detail record survives a move of its master and is stored under its own key.
  i.Append();
  i.SetValue("cProd_I02", "P1b");
  h.Next();
  i.Post();
  EXPECT_EQ(i.RecordCount(), 0u);
  h.First();
  EXPECT_EQ(i.RecordCount(), 3u);

  i.SetMaster(nullptr, "", "");
  EXPECT_EQ(i.RecordCount(), 3u);
  h.Empty();
  EXPECT_EQ(di.RecordCount(), 0u);  // no master record: nothing shown
  EXPECT_EQ(i.RecordCount(), 3u);   // unlinked: untouched
}

TEST(MemTable, HandlersAndThrowingHandlers) {
  TqorMemTable t("YA");
  t.AddField("handle");
  t.AddField("tPag_YA02");
  std::vector<std::string> calls;
  int nextHandle = 0;
  bool failBeforeInsert = false, failAfterInsert = false;
  t.SetBeforeInsert([&](TqorMemTable&) {
    calls.push_back("before-insert");
    if (failBeforeInsert) throw std::runtime_error("bi");
  });
  t.SetAfterInsert([&](TqorMemTable& self) {
    calls.push_back("after-insert");
    self.SetValue("handle", std::to_string(++nextHandle));
    if (failAfterInsert) throw std::runtime_error("ai");
  });
  t.SetBeforePost([&](TqorMemTable& self) {
    calls.push_back("before-post");
    if (self.Value("tPag_YA02").empty()) throw std::runtime_error("tPag vazio");
  });
  t.Open();
  t.Append();
  EXPECT_EQ(t.Value("handle"), "1");
  EXPECT_THROW(t.Post(), std::runtime_error);
  EXPECT_EQ(t.State(), TDataSetState::dsInsert);  // still pending, values kept
  EXPECT_EQ(t.Value("handle"), "1");
  t.SetValue("tPag_YA02", "01");
  t.Post();
  EXPECT_EQ(calls, (std::vector<std::string>{"before-insert", "after-insert", "before-post",
                                             "before-post"}));

  failBeforeInsert = true;
  EXPECT_THROW(t.Append(), std::runtime_error);
  EXPECT_EQ(t.State(), TDataSetState::dsBrowse);
  failBeforeInsert = false;
  failAfterInsert = true;
  EXPECT_THROW(t.Append(), std::runtime_error);
  EXPECT_EQ(t.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(t.RecordCount(), 1u);
  EXPECT_EQ(t.Value("handle"), "1");  // back on the record it was on
  EXPECT_EQ(t.Value("tPag_YA02"), "01");
}

TEST(MemTable, PostAfterMasterMovedKeepsCursorOnNewRecord) {
  TqorMemTable h("H"), i("I");
  h.AddField("handle");
  i.AddField("hH");
  i.AddField("cProd_I02");
  i.SetMaster(&h, "hH", "handle");
  h.Open();
  i.Open();
  for (const char* n : {"1", "2"}) {
    h.Append();
    h.SetValue("handle", n);
    h.Post();
  }
  h.First();
  AddRows(i, "cProd_I02", {"A", "B"});
  // The master moves away and back without the detail being read; the next post lands in a
  // view brought up to date afterwards, with the cursor on the new record.
  h.Next();
  h.First();
  i.Append();
  i.SetValue("cProd_I02", "C");
  i.Post();
  EXPECT_EQ(i.Value("cProd_I02"), "C");
  EXPECT_EQ(i.RecordCount(), 3u);
  i.Next();
  EXPECT_TRUE(i.Eof());
  EXPECT_EQ(Column(i, "cProd_I02"), (std::vector<std::string>{"A", "B", "C"}));
  // Posted under the other master's key while the first is current (after a move away and back):
  // not shown, the view and its cursor as they were.
  h.Next();
  h.First();
  i.Append();
  i.SetValue("hH", "2");
  i.SetValue("cProd_I02", "D");
  i.Post();
  EXPECT_EQ(i.RecordCount(), 3u);
  EXPECT_EQ(i.Value("cProd_I02"), "C");
  // The master on the second record, unread: a record posted for it is current, one posted
  // for the first is not shown.
  h.Next();
  i.Append();
  i.SetValue("cProd_I02", "E");
  i.Post();
  i.Append();
  i.SetValue("hH", "1");
  i.SetValue("cProd_I02", "F");
  i.Post();
  EXPECT_EQ(i.Value("cProd_I02"), "E");
  EXPECT_EQ(Column(i, "cProd_I02"), (std::vector<std::string>{"D", "E"}));
  h.First();
  EXPECT_EQ(Column(i, "cProd_I02"), (std::vector<std::string>{"A", "B", "C", "F"}));
  EXPECT_EQ(i.StoredCount(), 6u);
  // Closed and reopened, nothing of the above lingers.
  i.Close();
  i.Open();
  EXPECT_EQ(i.StoredCount(), 0u);
  i.Append();
  i.Post();
  EXPECT_EQ(i.RecordCount(), 1u);
  EXPECT_EQ(i.Value("hH"), "1");
}

TEST(MemTable, RecordsWithoutTrailingValues) {
  TqorMemTable t("N");
  for (const char* f : {"handle", "orig_N11", "CST_N12", "vBC_N15", "vICMS_N17"}) t.AddField(f);
  t.Open();
  t.Append();
  EXPECT_TRUE(t.EmptyFrom(0));
  t.SetValue("orig_N11", "0");
  EXPECT_FALSE(t.EmptyFrom(1));
  EXPECT_TRUE(t.EmptyFrom(2));
  t.Post();
  t.Append();
  t.SetValue("vICMS_N17", "1.62");
  t.SetValue("vICMS_N17", "");  // written, then emptied: stored without it
  t.Post();
  t.Append();
  t.SetValue("handle", "3");
  t.SetValue("vICMS_N17", "9.00");
  t.Post();
  EXPECT_EQ(Column(t, "vICMS_N17"), (std::vector<std::string>{"", "", "9.00"}));
  EXPECT_EQ(Column(t, "orig_N11"), (std::vector<std::string>{"0", "", ""}));
  t.First();
  EXPECT_TRUE(t.EmptyFrom(2));
  EXPECT_FALSE(t.EmptyFrom(1));
  // An edit that writes past the record's stored values, then one that empties them.
  t.Edit();
  t.SetValue("vBC_N15", "9.00");
  EXPECT_EQ(t.Value("orig_N11"), "0");
  t.Post();
  EXPECT_EQ(t.Value("vBC_N15"), "9.00");
  EXPECT_EQ(t.Value("orig_N11"), "0");
  t.Next();
  EXPECT_TRUE(t.EmptyFrom(0));
  t.First();
  t.Edit();
  t.SetValue("orig_N11", "");
  t.SetValue("vBC_N15", "");
  t.Cancel();
  EXPECT_EQ(t.Value("vBC_N15"), "9.00");  // cancelled: unchanged
  t.Edit();
  t.SetValue("orig_N11", "");
  t.SetValue("vBC_N15", "");
  t.Post();
  EXPECT_TRUE(t.EmptyFrom(0));
  EXPECT_EQ(Column(t, "vICMS_N17"), (std::vector<std::string>{"", "", "9.00"}));
  EXPECT_EQ(Column(t, "handle"), (std::vector<std::string>{"", "", "3"}));
}
