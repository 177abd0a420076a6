#include "platform/MemTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "platform/DataSet.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "support/Expect.h"

using qor::EqorGovException;
using qor::TDataSetState;
using qor::TqorDataSet;
using qor::TqorMemTable;

namespace {

using L = std::vector<std::string>;

void Open(TqorMemTable& t, std::initializer_list<const char*> fields) {
  for (const char* f : fields) t.AddField(f);
  t.Open();
}

// Appends a record, writes "field=value" pairs into it and posts it unless told not to.
void Put(TqorMemTable& t, std::initializer_list<std::string> pairs, bool post = true) {
  t.Append();
  for (const std::string& p : pairs)
    t.SetValue(p.substr(0, p.find('=')), p.substr(p.find('=') + 1));
  if (post) t.Post();
}

// Values of `field` over the visible records, walking the cursor.
L Column(TqorMemTable& t, const std::string& field) {
  L out;
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
  Put(t, {"cUF_B02=123456"});
  Put(t, {});
  EXPECT_EQ(Column(t, "cuf_b02"), (L{"123456", ""}));

  // Tables given one declared list share it; a field added to one of them is its own.
  auto comuns = std::make_shared<qor::TqorMemFields>();
  ASSERT_TRUE(comuns->Add("a", 1, false, true, {}));
  EXPECT_FALSE(comuns->Add("A", 1, false, true, {}));
  TqorMemTable x("X"), y("Y");
  x.ShareFields(comuns);
  y.ShareFields(comuns);
  EXPECT_EQ(x.AddField("b"), 1u);
  EXPECT_EQ(x.FieldCount(), 2u);
  EXPECT_EQ(y.FieldCount(), 1u);
  EXPECT_EQ(y.FindField("b"), -1);
  EXPECT_EQ(comuns->list.size(), 1u);
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

  Put(t, {"cProd_I02=1"}, false);
  EXPECT_EQ(t.State(), TDataSetState::dsInsert);
  EXPECT_THROW(t.Append(), EqorGovException);
  EXPECT_THROW(t.Next(), EqorGovException);
  EXPECT_EQ(t.RecordCount(), 0u);  // pending record not counted
  t.Post();
  Put(t, {"cProd_I02=2"});
  Put(t, {"cProd_I02=3"});
  EXPECT_EQ(t.RecordCount(), 3u);
  EXPECT_EQ(t.Value("cProd_I02"), "3");  // cursor on the last posted record
  EXPECT_EQ(Column(t, "cProd_I02"), (L{"1", "2", "3"}));
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
  Put(t, {"cProd_I02=dropped"}, false);
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
  for (const char* f : {"handle", "hH", "cProd_I02"}) i.AddField(f);
  for (const char* f : {"handle", "hH"}) di.AddField(f);
  for (const char* f : {"hDI", "nAdicao_I26"}) adi.AddField(f);
  i.SetMaster(&h, "hH", "handle");
  di.SetMaster(&h, "HH", "HANDLE");
  adi.SetMaster(&di, "hDI", "handle");
  EXPECT_THROW(h.SetMaster(&adi, "handle", "hDI"), EqorGovException);  // circular
  for (TqorMemTable* t : {&h, &i, &di, &adi}) t->Open();
  EXPECT_THROW(i.Append(), EqorGovException);  // no master record to hang it on

  for (int item = 1; item <= 2; ++item) {
    const std::string n = std::to_string(item);
    Put(h, {"handle=" + n}, false);
    i.Append();  // master still pending: its value is the key
    EXPECT_EQ(i.Value("hH"), n);
    i.SetValue("cProd_I02", "P" + n);
    i.Post();
    for (int d = 1; d <= item; ++d) {
      Put(di, {"handle=" + n + std::to_string(d)}, false);
      Put(adi, {"nAdicao_I26=A" + n + std::to_string(d)});
      di.Post();
    }
    h.Post();
  }
  h.First();
  EXPECT_EQ(Column(i, "cProd_I02"), (L{"P1"}));
  EXPECT_EQ(Column(di, "handle"), (L{"11"}));
  h.Next();
  EXPECT_EQ(Column(i, "cProd_I02"), (L{"P2"}));
  EXPECT_EQ(Column(di, "handle"), (L{"21", "22"}));
  di.First();  // grand-detail follows its own master
  di.Next();
  EXPECT_EQ(Column(adi, "nAdicao_I26"), (L{"A22"}));
  // Moves nobody read in between still reach the grand-detail, through its master.
  h.First();
  h.Next();
  h.First();
  EXPECT_EQ(Column(adi, "nAdicao_I26"), (L{"A11"}));
  h.Next();
  EXPECT_EQ(adi.Value("nAdicao_I26"), "A21");

  // Re-keying a detail record moves it to the other master.
  i.First();
  i.Edit();
  i.SetValue("hH", "1");
  i.Post();
  EXPECT_EQ(i.RecordCount(), 0u);
  h.First();
  EXPECT_EQ(Column(i, "cProd_I02"), (L{"P1", "P2"}));

  // A pending detail record survives a move of its master and is stored under its own key.
  Put(i, {"cProd_I02=P1b"}, false);
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
  Open(t, {"handle", "tPag_YA02"});
  t.Append();
  EXPECT_EQ(t.Value("handle"), "1");
  EXPECT_THROW(t.Post(), std::runtime_error);
  EXPECT_EQ(t.State(), TDataSetState::dsInsert);  // still pending, values kept
  EXPECT_EQ(t.Value("handle"), "1");
  t.SetValue("tPag_YA02", "01");
  t.Post();
  EXPECT_EQ(calls, (L{"before-insert", "after-insert", "before-post", "before-post"}));

  for (bool* fail : {&failBeforeInsert, &failAfterInsert}) {
    failBeforeInsert = failAfterInsert = false;
    *fail = true;
    EXPECT_THROW(t.Append(), std::runtime_error);
    EXPECT_EQ(t.State(), TDataSetState::dsBrowse);
  }
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
  Put(h, {"handle=1"});
  Put(h, {"handle=2"});
  h.First();
  Put(i, {"cProd_I02=A"});
  Put(i, {"cProd_I02=B"});
  // The master moves away and back without the detail being read; the next post lands in a
  // view brought up to date afterwards, with the cursor on the new record.
  h.Next();
  h.First();
  Put(i, {"cProd_I02=C"});
  EXPECT_EQ(i.Value("cProd_I02"), "C");
  EXPECT_EQ(i.RecordCount(), 3u);
  i.Next();
  EXPECT_TRUE(i.Eof());
  EXPECT_EQ(Column(i, "cProd_I02"), (L{"A", "B", "C"}));
  // Posted under the other master's key while the first is current (after a move away and back):
  // not shown, the view and its cursor as they were.
  h.Next();
  h.First();
  Put(i, {"hH=2", "cProd_I02=D"});
  EXPECT_EQ(i.RecordCount(), 3u);
  EXPECT_EQ(i.Value("cProd_I02"), "C");
  // The master on the second record, unread: a record posted for it is current, one posted
  // for the first is not shown.
  h.Next();
  Put(i, {"cProd_I02=E"});
  Put(i, {"hH=1", "cProd_I02=F"});
  EXPECT_EQ(i.Value("cProd_I02"), "E");
  EXPECT_EQ(Column(i, "cProd_I02"), (L{"D", "E"}));
  h.First();
  EXPECT_EQ(Column(i, "cProd_I02"), (L{"A", "B", "C", "F"}));
  EXPECT_EQ(i.StoredCount(), 6u);
  // Closed and reopened, nothing of the above lingers.
  i.Close();
  i.Open();
  EXPECT_EQ(i.StoredCount(), 0u);
  Put(i, {});
  EXPECT_EQ(i.RecordCount(), 1u);
  EXPECT_EQ(i.Value("hH"), "1");
}

TEST(MemTable, RecordsWithoutTrailingValues) {
  TqorMemTable t("N");
  Open(t, {"handle", "orig_N11", "CST_N12", "vBC_N15", "vICMS_N17"});
  t.Append();
  EXPECT_TRUE(t.EmptyFrom(0));
  t.SetValue("orig_N11", "0");
  EXPECT_FALSE(t.EmptyFrom(1));
  EXPECT_TRUE(t.EmptyFrom(2));
  t.Post();
  Put(t, {"vICMS_N17=1.62", "vICMS_N17="});  // written, then emptied: stored without it
  Put(t, {"handle=3", "vICMS_N17=9.00"});
  EXPECT_EQ(Column(t, "vICMS_N17"), (L{"", "", "9.00"}));
  EXPECT_EQ(Column(t, "orig_N11"), (L{"0", "", ""}));
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
  EXPECT_EQ(Column(t, "vICMS_N17"), (L{"", "", "9.00"}));
  EXPECT_EQ(Column(t, "handle"), (L{"", "", "3"}));
}

// The report data travel as one text: every stored record (those a master hides too), escaped
// values and the master link come back as they were; a damaged text is refused by line.
TEST(DataSet, SerializedListReadsBackWhole) {
  TqorDataSet dados("Dados"), itens("DadosItens");
  dados.AddField("nNF", 9);
  dados.AddField("Obs", 8000);
  itens.AddField("nNF", 9);
  itens.AddField("ItemDescricao", 255);
  dados.Open();
  itens.Open();
  itens.SetMaster(&dados, "nNF", "nNF");
  const std::vector<std::pair<std::string, std::string>> notas = {
      {"000000001", "linha 1\r\nlinha\t2 \\ fim"}, {"000000002", ""}};
  for (const auto& [nNF, obs] : notas) {
    dados.Append();
    dados.SetValue("nNF", nNF);
    dados.SetValue("Obs", obs);
    dados.Post();
    for (int i = 0; i < 2; ++i) {
      itens.Append();
      itens.SetValue("ItemDescricao", "Item " + nNF + "/" + std::to_string(i) + " <b>&");
      itens.Post();
    }
  }
  const std::string text = qor::SerializeTDataSourceList({&dados, &itens});
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 15) << text;

  auto sets = qor::DeserializeDataSourceList(text);
  ASSERT_EQ(sets.size(), 2u);
  TqorDataSet& d = *sets[0];
  TqorDataSet& it = *sets[1];
  EXPECT_EQ(d.Field(1).size, 8000);
  ASSERT_EQ(it.Master(), &d);
  d.First();
  for (const auto& [nNF, obs] : notas) {
    EXPECT_EQ(d.Value("Obs"), obs);
    EXPECT_EQ(it.RecordCount(), 2u);
    it.First();
    EXPECT_EQ(it.Value("ItemDescricao"), "Item " + nNF + "/0 <b>&");
    d.Next();
  }

  const auto replaced = [&text](std::string_view from, std::string_view to) {
    std::string t = text;
    qor::ReplaceAll(t, from, to);
    return t;
  };
  for (const std::string& bad :
       {std::string(), std::string("QORDATA 2\n"), text.substr(0, text.size() - 4),
        replaced("DATASET DadosItens Dados", "DATASET DadosItens Outro"),
        replaced("\tItem 000000001/0", "\tI\\x"), replaced("FIELD Obs 8000", "FIELD Obs x")}) {
    EXPECT_THROW(qor::DeserializeDataSourceList(bad), EqorGovException) << bad;
  }
}
