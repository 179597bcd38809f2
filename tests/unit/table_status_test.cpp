// The table's structure and status operations: table state items on every
// result, and the field look-ups traced at level 2 only.
#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

class TableStatusTest : public ModuleTest {
 public:
  Line State(Item result) { return {kIndent, result, "(", 5, ")"}; }
  TableOfDictionary objects;
  CTable* table = objects.table;
  FieldLayout fieldStorage{};
  CField* field = reinterpret_cast<CField*>(&fieldStorage);
};

TEST_F(TableStatusTest, LevelOneTracesEverythingButTheFieldLookUps) {
  AttachTracing(1);
  alignas(8) unsigned char recAddr[16] = {};
  engine.SetResult(kTable_AddIndex, 0x4400);
  engine.SetResult(kTable_GetTLockMode, 2);
  engine.SetResult(kTable_DeleteIndex_ByName, -1);
  EXPECT_EQ(table->AddField("NAME"), nullptr);
  EXPECT_EQ(table->AddIndex("BYNAME"), reinterpret_cast<CIndex*>(0x4400));
  EXPECT_EQ(table->DeleteIndex("OLD"), -1);
  EXPECT_EQ(table->GetField(3), nullptr);
  EXPECT_EQ(table->GetField("NAME"), nullptr);
  EXPECT_EQ(table->GetTLockMode(), TLockModeCtl(2));
  EXPECT_EQ(table->IsRecLocked(*reinterpret_cast<CRecAddr*>(recAddr)), 1);
  ExpectTrace({
      {P(table), "CTable::AddField(char const *)", "NAME"}, State(P(nullptr)),
      {P(table), "CTable::AddIndex(char const *)", "BYNAME"}, State(P(reinterpret_cast<void*>(0x4400))),
      {P(table), "CTable::DeleteIndex(char const *)", "OLD"}, State(-1),
      {P(table), "CTable::GetTLockMode(void)"}, State(2),
      {P(table), "CTable::IsRecLocked(class CRecAddr &)", P(recAddr)}, State(1),
  });
  EXPECT_EQ(engine.CallCount(kTable_GetField_ByNumber) + engine.CallCount(kTable_GetField_ByName), 2)
      << "untraced look-ups still reach the engine";
}

TEST_F(TableStatusTest, LevelTwoShowsTheFieldInsteadOfItsAddress) {
  AttachTracing(2);
  fieldStorage.name = "NAME";
  fieldStorage.firstWord = 3;
  fieldStorage.secondWord = 10;
  engine.SetResult(kTable_GetField_ByName, reinterpret_cast<intptr_t>(field));
  EXPECT_EQ(table->GetField("NAME"), field);
  ExpectTrace({
      {P(table), "CTable::GetField(char const *)", "NAME"},
      {kIndent, "[", "NAME", 3, 10, "]", "(", 5, ")"},
  });
}

TEST_F(TableStatusTest, LevelTwoNamesANullFieldWithoutReadingIt) {
  AttachTracing(2);
  EXPECT_EQ(table->GetField(7), nullptr);
  ExpectTrace({{P(table), "CTable::GetField(int)", 7}, {kIndent, "[", "NULL", "]", "(", 5, ")"}});
}

TEST_F(TableStatusTest, RemainingOperationsCarryTheirItems) {
  AttachTracing(1);
  objects.tableStorage.traceWord = -9;
  table->DeleteField(4);
  table->DeleteField(field);
  table->DeleteField("F");
  table->DeleteIndex(5);
  table->DeleteIndex(reinterpret_cast<CIndex*>(0x66));
  table->EnableIndexing(0);
  table->GetIndex(6);
  table->GetIndex("");
  table->CTable::GetObjType();
  table->IsBufDirty();
  table->IsOpen();
  Line const state = {kIndent, 1, "(", -9, ")"};
  Line const pointerState = {kIndent, P(nullptr), "(", -9, ")"};
  ExpectTrace({
      {P(table), "CTable::DeleteField(int)", 4}, state,
      {P(table), "CTable::DeleteField(class CField *)", P(field)}, state,
      {P(table), "CTable::DeleteField(char const *)", "F"}, state,
      {P(table), "CTable::DeleteIndex(int)", 5}, state,
      {P(table), "CTable::DeleteIndex(class CIndex *)", P(reinterpret_cast<void*>(0x66))}, state,
      {P(table), "CTable::EnableIndexing(int)", 0}, state,
      {P(table), "CTable::GetIndex(int)", 6}, pointerState,
      {P(table), "CTable::GetIndex(char const *)", "EMPTY"}, pointerState,
      {P(table), "CTable::GetObjType(void)"}, state,
      {P(table), "CTable::IsBufDirty(void)"}, state,
      {P(table), "CTable::IsOpen(void)"}, state,
  });
}

}  // namespace
}  // namespace testing
}  // namespace tolvan
