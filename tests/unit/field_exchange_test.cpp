// Field exchange: one trace line per call, with the value read before the
// engine call (nonzero direction) or after it (zero direction).
#include "facades/field_exchange.h"
#include "facades/value_types.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

class FieldExchangeTest : public ModuleTest {
 public:
  void SetUp() override {
    ModuleTest::SetUp();
    AttachTracing();
  }
  StoreLayout storeStorage{};
  CStoreObj* store = reinterpret_cast<CStoreObj*>(&storeStorage);
  CField* field = reinterpret_cast<CField*>(0xf1e1d);
};

TEST_F(FieldExchangeTest, DirectionChoosesWhetherTheHostsOrTheEnginesValueIsShown) {
  engine.exchange.i = 42;
  int value = 7;
  store->FX_Int(3, value, 1);
  EXPECT_EQ(value, 7) << "with a nonzero direction the engine leaves the variable";
  store->FX_Int(3, value, 0);
  EXPECT_EQ(value, 42);
  value = 8;
  store->FX_Int(3, value, 2);
  store->FX_Int(3, value, -1);
  char const kText[] = "CStoreObj::FX_Int(int,int &,int)";
  ExpectTrace({
      {P(store), kText, 3, 7, 1},
      {P(store), kText, 3, 42, 0},
      {P(store), kText, 3, 8, 2},
      {P(store), kText, 3, 8, -1},
  });
}

TEST_F(FieldExchangeTest, ADirectionZeroLineIsFinishedAfterTheEngineRan) {
  size_t sizeDuringEngineCall = 0;
  engine.onCall = [&](OperationId, void*) { sizeDuringEngineCall = PlainLog().size(); };
  struct Open : CStoreObj {
    void Exchange(int direction) { CStoreObj::FieldExchange(direction); }
  };
  static_cast<Open*>(store)->Exchange(5);
  EXPECT_EQ(sizeDuringEngineCall, PlainLog().size()) << "FieldExchange writes its whole line first";
  ClearLogs();
  engine.exchange.l = -7;
  long value = 0;
  store->FX_Long("QTY", value, 0);
  ExpectTrace({{P(store), "CStoreObj::FX_Long(char const *,long &,int)", "QTY", -7, 0}});
}

TEST_F(FieldExchangeTest, DatesAsTheValueTypesLibraryRendersThem) {
  int32_t day = 1;
  CDate& date = *reinterpret_cast<CDate*>(&day);
  store->FX_Date("BORN", date, 1);
  EXPECT_EQ(DateToStringCalls(), 0) << "day 1 is written by the module itself";
  day = 0;
  store->FX_Date(field, date, 1);
  day = 738000;
  store->FX_Date(2, date, 1);
  EXPECT_EQ(DateToStringCalls(), 1);
  SetDateRendering("a date text far longer than fifteen");
  store->FX_Date(2, date, 1);
  ExpectTrace({
      {P(store), "CStoreObj::FX_Date(char const *,class CDate &,int)", "BORN", "00010101", 1},
      {P(store), "CStoreObj::FX_Date(class CField *,class CDate &,int)", P(field), "EMPTY", 1},
      {P(store), "CStoreObj::FX_Date(int,class CDate &,int)", 2, "D738000", 1},
      {P(store), "CStoreObj::FX_Date(int,class CDate &,int)", 2, "a date text far", 1},
  });
}

TEST_F(FieldExchangeTest, TheDateExampleAfterTheEngine) {
  engine.exchange.dayNumber = 1;
  int32_t day = 99;
  store->FX_Date("BORN", *reinterpret_cast<CDate*>(&day), 0);
  EXPECT_EQ(PlainLog(), " " + Hex(store) + " CStoreObj::FX_Date(char const *,class CDate &,int) BORN 00010101 0 \r\n");
  EXPECT_EQ(MaskedLog(), " ........ CStoreObj::FX_Date(char const *,class CDate &,int) BORN 00010101 0 \r\n");
}

TEST_F(FieldExchangeTest, EveryValueKind) {
  char c = '\0';
  double d = 0.00001234;
  long double ld = 1234567.0L;
  NumericObject numeric{2.5};
  char const* text = "";
  store->FX_Char(field, c, 1);
  c = 'Z';
  store->FX_Char(1, c, 1);
  store->FX_Double(static_cast<char const*>(nullptr), d, 1);
  store->FX_LongDouble("", ld, 1);
  store->FX_CNumeric(4, *reinterpret_cast<CNumeric*>(&numeric), 1);
  store->FX_String(5, *reinterpret_cast<CString*>(&text), 1);
  text = nullptr;
  store->FX_String(5, *reinterpret_cast<CString*>(&text), 1);
  text = "line\nbreak";
  store->FX_String(5, *reinterpret_cast<CString*>(&text), 1);
  ExpectTrace({
      {P(store), "CStoreObj::FX_Char(class CField *,char &,int)", P(field), "EMPTY", 1},
      {P(store), "CStoreObj::FX_Char(int,char &,int)", 1, "Z", 1},
      {P(store), "CStoreObj::FX_Double(char const *,double &,int)", "NULL", "1.234e-005", 1},
      {P(store), "CStoreObj::FX_LongDouble(char const *,long double &,int)", "EMPTY", "1.23457e+006", 1},
      {P(store), "CStoreObj::FX_CNumeric(int,class CNumeric &,int)", 4, "2.5", 1},
      {P(store), "CStoreObj::FX_String(int,class CString &,int)", 5, "EMPTY", 1},
      {P(store), "CStoreObj::FX_String(int,class CString &,int)", 5, "NULL", 1},
      {P(store), "CStoreObj::FX_String(int,class CString &,int)", 5, "line\r\nbreak", 1},
  });
  EXPECT_EQ(GetDoubleCalls(), 1);
  EXPECT_EQ(engine.calls.at(2).text, "CStoreObj::FX_Double(null," + Hex(&d) + ",1)")
      << "a null selector is passed on unchanged";
}

TEST_F(FieldExchangeTest, BuffersAreNeverReadBeyondTheirLength) {
  char unterminated[4] = {'A', 'B', 'C', 'D'};
  char shortText[16] = "ab";
  store->FX_String(1, unterminated, 4L, 1);
  store->FX_String(field, unterminated, 2L, 1);
  store->FX_String("NAME", shortText, 16L, 1);
  store->FX_String(1, nullptr, 9L, 1);
  store->FX_String(1, unterminated, 0L, 1);
  engine.bufferText = "from engine";
  store->FX_String(1, shortText, 16L, 0);
  ExpectTrace({
      {P(store), "CStoreObj::FX_String(int,char *,long,int)", 1, "ABCD", 4, 1},
      {P(store), "CStoreObj::FX_String(class CField *,char *,long,int)", P(field), "AB", 2, 1},
      {P(store), "CStoreObj::FX_String(char const *,char *,long,int)", "NAME", "ab", 16, 1},
      {P(store), "CStoreObj::FX_String(int,char *,long,int)", 1, "NULL", 9, 1},
      {P(store), "CStoreObj::FX_String(int,char *,long,int)", 1, "EMPTY", 0, 1},
      {P(store), "CStoreObj::FX_String(int,char *,long,int)", 1, "from engine", 16, 0},
  });
  EXPECT_EQ(engine.calls.at(3).text, "CStoreObj::FX_String(1," + Hex(nullptr) + ",9,1)");
}

TEST_F(FieldExchangeTest, WithTracingOffNothingIsReadAndNoValueLibraryCalled) {
  Attach();
  NumericObject numeric{1.0};
  int32_t day = 5;
  store->FX_CNumeric(1, *reinterpret_cast<CNumeric*>(&numeric), 1);
  store->FX_CNumeric("N", *reinterpret_cast<CNumeric*>(&numeric), 0);
  store->FX_Date(1, *reinterpret_cast<CDate*>(&day), 1);
  EXPECT_EQ(GetDoubleCalls(), 0);
  EXPECT_EQ(DateToStringCalls(), 0);
  EXPECT_EQ(engine.calls.size(), 3u);
  EXPECT_FALSE(LogExists('a'));
}

TEST(DateTextTest, CutsLongTextsAndKeepsShortOnes) {
  char text[kDateTextMax + 1];
  ResetValueTypes();
  EXPECT_EQ(DateText(0, text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(DateText(1, text), 8);
  EXPECT_STREQ(text, "00010101");
  SetDateRendering(std::string(200, 'y'));
  EXPECT_EQ(DateText(2, text), 15);
  EXPECT_EQ(std::string(text), std::string(15, 'y'));
  SetDateRendering("20240229");
  EXPECT_EQ(DateText(-3, text), 8);
  EXPECT_STREQ(text, "20240229");
  ResetValueTypes();
}

}  // namespace
}  // namespace testing
}  // namespace tolvan
