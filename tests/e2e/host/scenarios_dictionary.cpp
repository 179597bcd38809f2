// The data dictionary's 19 operations, with the trace's byte layout checked
// against literal lines.
#include "tests/e2e/host/scenarios.h"

namespace e2e {

namespace {

// "%08x" of an address, for literal plain-log lines.
void Hex(char* text, void const* address) {
  _snprintf(text, 9, "%08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)));
  text[8] = '\0';
}

}  // namespace

void DictionaryFamily() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  // A null and an empty text are written as NULL and EMPTY, and passed on.
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary(nullptr, "", "C:\\USER", "C:\\FILES");
  ExpectStep("constructor with a null and an empty path",
             Calls().Call(kDataDictionary_Construct, dictionary, static_cast<char const*>(nullptr), "", "C:\\USER",
                          "C:\\FILES").Done(),
             Trace()
                 .Call(dictionary, kDataDictionary_Construct, static_cast<char const*>(nullptr), "", "C:\\USER",
                       "C:\\FILES")
                 .ResultPointer(dictionary));

  // Byte for byte: every item is a space and its text, a result line starts
  // with 16 spaces, every line ends with a space, CR and LF.
  char address[9];
  Hex(address, dictionary);
  Text plainCall;
  plainCall.Format(" %s CDataDictionary::BeginTransaction(void) \r\n                1 \r\n", address);
  Expect(dictionary->BeginTransaction() == 1, "BeginTransaction returns the engine's result");
  ExpectStep("BeginTransaction, literal lines", Calls().Call(kDataDictionary_BeginTransaction, dictionary).Returns(1),
             Trace().Raw(" ........ CDataDictionary::BeginTransaction(void) \r\n                1 \r\n",
                         plainCall.c_str()));

  plainCall.Clear();
  plainCall.Format(" %s CDataDictionary::Open(char const *) C:\\X\\A.DD \r\n                1 \r\n", address);
  Expect(dictionary->Open("C:\\X\\A.DD") == 1, "Open returns the engine's result");
  ExpectStep("Open, literal lines", Calls().Call(kDataDictionary_Open, dictionary, "C:\\X\\A.DD").Returns(1),
             Trace().Raw(" ........ CDataDictionary::Open(char const *) C:\\X\\A.DD \r\n                1 \r\n",
                         plainCall.c_str()));

  // The static SetLocale has no object: the null address, and no result.
  unsigned char upper[] = "ABC";
  unsigned char lower[] = "abc";
  CDataDictionary::SetLocale(7, upper, lower);
  ExpectStep("SetLocale, literal line", Calls().Call(kDataDictionary_SetLocale, static_cast<void const*>(nullptr), 7,
                                                     upper, lower).Done(),
             Trace().Raw(" ........ CDataDictionary::SetLocale(int,unsigned char *,unsigned char *) 7 ABC abc \r\n",
                         " 00000000 CDataDictionary::SetLocale(int,unsigned char *,unsigned char *) 7 ABC abc \r\n"));

  CTable* const added = dictionary->AddTable("NEU");
  ExpectStep("AddTable", Calls().Call(kDataDictionary_AddTable, dictionary, "NEU").Returns(added),
             Trace().Call(dictionary, kDataDictionary_AddTable, "NEU").ResultPointer(added));

  QueueResult(kDataDictionary_DeleteTable_ByNumber, 0);
  int const deletedByNumber = dictionary->DeleteTable(-1);
  QueueResult(kDataDictionary_DeleteTable_ByNumber, -2147483647 - 1);
  int const mostNegative = dictionary->DeleteTable(-2147483647 - 1);
  Expect(deletedByNumber == 0 && mostNegative == -2147483647 - 1, "DeleteTable(int) returns the engine's results");
  ExpectStep("DeleteTable by number, negative values",
             Calls()
                 .Call(kDataDictionary_DeleteTable_ByNumber, dictionary, -1)
                 .Returns(0)
                 .Call(kDataDictionary_DeleteTable_ByNumber, dictionary, -2147483647 - 1)
                 .Returns(-2147483647 - 1),
             Trace()
                 .Call(dictionary, kDataDictionary_DeleteTable_ByNumber, -1)
                 .ResultInt(0)
                 .Call(dictionary, kDataDictionary_DeleteTable_ByNumber, -2147483647 - 1)
                 .Raw("                -2147483648 \r\n", "                -2147483648 \r\n"));

  Expect(dictionary->DeleteTable(added) == 1, "DeleteTable(CTable *) returns the engine's result");
  Expect(dictionary->DeleteTable("NEU") == 1, "DeleteTable(char const *) returns the engine's result");
  ExpectStep("DeleteTable by object and by name",
             Calls()
                 .Call(kDataDictionary_DeleteTable_ByObject, dictionary, added)
                 .Returns(1)
                 .Call(kDataDictionary_DeleteTable_ByName, dictionary, "NEU")
                 .Returns(1),
             Trace()
                 .Call(dictionary, kDataDictionary_DeleteTable_ByObject, added)
                 .ResultInt(1)
                 .Call(dictionary, kDataDictionary_DeleteTable_ByName, "NEU")
                 .ResultInt(1));

  QueueResult(kDataDictionary_EndTransaction, -7);
  int const ended = dictionary->EndTransaction(static_cast<TransactionCtl>(3));
  Expect(ended == -7, "EndTransaction returns the engine's result (got %d)", ended);
  ExpectStep("EndTransaction", Calls().Call(kDataDictionary_EndTransaction, dictionary, 3).Returns(-7),
             Trace().Call(dictionary, kDataDictionary_EndTransaction, 3).ResultInt(-7));

  char const* const path = dictionary->GetFilePath(static_cast<TableType>(2));
  Expect(path && strcmp(path, "X:\\DATA\\2") == 0, "GetFilePath returns the engine's text");
  QueuePointer(kDataDictionary_GetFilePath, nullptr);
  char const* const nullPath = dictionary->GetFilePath(static_cast<TableType>(0));
  static char const kEmpty[] = "";
  QueuePointer(kDataDictionary_GetFilePath, kEmpty);
  char const* const emptyPath = dictionary->GetFilePath(static_cast<TableType>(1));
  Expect(nullPath == nullptr && emptyPath == kEmpty, "GetFilePath returns the engine's null and empty texts unchanged");
  ExpectStep("GetFilePath, a text result",
             Calls()
                 .Call(kDataDictionary_GetFilePath, dictionary, 2)
                 .Returns("X:\\DATA\\2")
                 .Call(kDataDictionary_GetFilePath, dictionary, 0)
                 .Returns(static_cast<char const*>(nullptr))
                 .Call(kDataDictionary_GetFilePath, dictionary, 1)
                 .Returns(""),
             Trace()
                 .Call(dictionary, kDataDictionary_GetFilePath, 2)
                 .ResultText("X:\\DATA\\2")
                 .Call(dictionary, kDataDictionary_GetFilePath, 0)
                 .ResultText("NULL")
                 .Call(dictionary, kDataDictionary_GetFilePath, 1)
                 .ResultText("EMPTY"));

  ObjectType const type = dictionary->CDataDictionary::GetObjType();
  Expect(type == kDictionaryType, "GetObjType returns the engine's type (got %d)", type);
  ExpectStep("GetObjType", Calls().Call(kDataDictionary_GetObjType, dictionary).Returns(kDictionaryType),
             Trace().Call(dictionary, kDataDictionary_GetObjType).ResultInt(kDictionaryType));

  CTable* const byName = dictionary->GetTable("KUNDEN");
  CTable* const byNumber = dictionary->GetTable(1);
  CTable* const none = dictionary->GetTable(9);
  Expect(byName && byNumber == byName && none == nullptr, "GetTable returns the engine's tables, null included");
  ExpectStep("GetTable by name and number, a null result",
             Calls()
                 .Call(kDataDictionary_GetTable_ByName, dictionary, "KUNDEN")
                 .Returns(byName)
                 .Call(kDataDictionary_GetTable_ByNumber, dictionary, 1)
                 .Returns(byNumber)
                 .Call(kDataDictionary_GetTable_ByNumber, dictionary, 9)
                 .Returns(none),
             Trace()
                 .Call(dictionary, kDataDictionary_GetTable_ByName, "KUNDEN")
                 .ResultPointer(byName)
                 .Call(dictionary, kDataDictionary_GetTable_ByNumber, 1)
                 .ResultPointer(byNumber)
                 .Call(dictionary, kDataDictionary_GetTable_ByNumber, 9)
                 .Raw("                ........ \r\n", "                00000000 \r\n"));

  Expect(dictionary->OpenEmpty() == 1, "OpenEmpty returns the engine's result");
  Expect(dictionary->SetAdmFilePath("C:\\ADM") == 1, "SetAdmFilePath returns the engine's result");
  QueueResult(kDataDictionary_SetSysFilePath, 0);
  Expect(dictionary->SetSysFilePath("C:\\SYS") == 0, "SetSysFilePath returns the engine's result");
  Expect(dictionary->SetUserFilePath("") == 1, "SetUserFilePath returns the engine's result");
  ExpectStep("OpenEmpty and the file paths",
             Calls()
                 .Call(kDataDictionary_OpenEmpty, dictionary)
                 .Returns(1)
                 .Call(kDataDictionary_SetAdmFilePath, dictionary, "C:\\ADM")
                 .Returns(1)
                 .Call(kDataDictionary_SetSysFilePath, dictionary, "C:\\SYS")
                 .Returns(0)
                 .Call(kDataDictionary_SetUserFilePath, dictionary, "")
                 .Returns(1),
             Trace()
                 .Call(dictionary, kDataDictionary_OpenEmpty)
                 .ResultInt(1)
                 .Call(dictionary, kDataDictionary_SetAdmFilePath, "C:\\ADM")
                 .ResultInt(1)
                 .Call(dictionary, kDataDictionary_SetSysFilePath, "C:\\SYS")
                 .ResultInt(0)
                 .Call(dictionary, kDataDictionary_SetUserFilePath, "EMPTY")
                 .ResultInt(1));

  // Void operations and the destructor: call lines only.
  dictionary->Close();
  dictionary->CDataDictionary::~CDataDictionary();
  ExpectStep("Close and the destructor",
             Calls().Call(kDataDictionary_Close, dictionary).Done().Call(kDataDictionary_Destroy, dictionary).Done(),
             Trace().Call(dictionary, kDataDictionary_Close).Call(dictionary, kDataDictionary_Destroy));
}

}  // namespace e2e
