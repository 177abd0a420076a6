// The report data: in-memory data sets of text fields (TqorDataSet, a TqorMemTable whose field
// sizes are metadata only) and the one text that carries a list of them to the report engine.
//
// SerializeTDataSourceList writes, for each data set in list order, its structure (fields and
// sizes, and its master link) and every stored record, those a master link hides included:
//
//   QORDATA 1
//   DATASET <name> <master name or "-"> <key field or "-"> <master field or "-">
//   FIELD <name> <size>                 one line per field, in field order
//   RECORD <value>\t<value>...           one line per stored record, every field
//   END
//
// Lines end with LF. Inside a value "\" is written "\\", a tab "\t", a line feed "\n" and a
// carriage return "\r"; any other byte stands as it is (values are UTF-8). Names hold no blank.
// DeserializeDataSourceList reads such a text back into open data sets with the same fields,
// records and master links (a master named in the text must come before its details); a text
// that does not follow the layout throws EqorGovException naming the line.
//
// Not thread-safe: a data set belongs to one thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/MemTable.h"

namespace qor {

class TqorDataSet : public TqorMemTable {
 public:
  using TqorMemTable::TqorMemTable;
};

std::string SerializeTDataSourceList(const std::vector<const TqorDataSet*>& sources);
std::vector<std::unique_ptr<TqorDataSet>> DeserializeDataSourceList(const std::string& text);

}  // namespace qor
