// Engine objects for the host tests, laid out as the module reads them.
#ifndef TOLVAN_TESTS_SUPPORT_ENGINE_OBJECTS_H
#define TOLVAN_TESTS_SUPPORT_ENGINE_OBJECTS_H

#include "core/engine_layout.h"
#include "facades/engine_interface.h"

namespace tolvan {
namespace testing {

// A table of its own dictionary: name, trace word and share mode as given.
struct TableOfDictionary {
  explicit TableOfDictionary(char const* name = "CUSTOMERS", int shareMode = 0, int traceWord = 5) {
    tableStorage.name = name;
    tableStorage.dictionary = dictionary;
    tableStorage.traceWord = traceWord;
    tableStorage.shareMode = shareMode;
  }
  TableOfDictionary(TableOfDictionary const&) = delete;

  DictionaryLayout dictionaryStorage{};
  TableLayout tableStorage{};
  CDataDictionary* dictionary = reinterpret_cast<CDataDictionary*>(&dictionaryStorage);
  CTable* table = reinterpret_cast<CTable*>(&tableStorage);
};

}  // namespace testing
}  // namespace tolvan

#endif
