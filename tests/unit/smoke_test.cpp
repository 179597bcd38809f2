#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

using TraceExampleTest = ModuleTest;

TEST_F(TraceExampleTest, BeginTransactionWritesCallAndResultLines) {
  AttachTracing();
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  EXPECT_EQ(dictionary->BeginTransaction(), 1);
  ExpectTrace({{P(dictionary), "CDataDictionary::BeginTransaction(void)"}, {kIndent, 1}});
}

}  // namespace
}  // namespace testing
}  // namespace tolvan
