#include "tools/trace/operation_forms.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvan {
namespace tools {
namespace {

class OperationFormsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(BuildOperationForms(forms)); }
  OperationForm const& Form(OperationId op) { return forms.forms[op]; }
  OperationForms forms;
};

TEST_F(OperationFormsTest, EveryOperationIsFoundByItsOwnSignatureText) {
  for (int op = 0; op < kOperationCount; ++op) {
    std::string const text = SignatureText(static_cast<OperationId>(op));
    EXPECT_EQ(FindSignature(forms, text), op) << text;
    std::string const withArguments = text + " 1 2";
    EXPECT_EQ(FindSignature(forms, withArguments), op) << text;
  }
}

TEST_F(OperationFormsTest, NearMissesOfASignatureAreNotFound) {
  EXPECT_EQ(FindSignature(forms, "CTable::Pack(void)x"), -1);
  EXPECT_EQ(FindSignature(forms, "CTable::Pack(voi)"), -1);
  EXPECT_EQ(FindSignature(forms, "CTable::Pack(void"), -1);
  EXPECT_EQ(FindSignature(forms, "ctable::Pack(void)"), -1);
  // The constructor's text really ends in "))": one ")" is not it.
  std::string const constructor = "CStoreObj::CStoreObj(class CTable *,class CIndex *) a b";
  EXPECT_EQ(FindSignature(forms, constructor), -1);
  std::string const exact = "CStoreObj::CStoreObj(class CTable *,class CIndex *)) a b";
  EXPECT_EQ(FindSignature(forms, exact), kStoreObj_Construct);
}

TEST_F(OperationFormsTest, ResultRecordsFollowTheDeclaredResultTypes) {
  EXPECT_EQ(Form(kTable_OpenAccess).result, kIntegerResult);
  EXPECT_EQ(Form(kTable_GetTLockMode).result, kIntegerResult);  // an enum
  EXPECT_EQ(Form(kRecAddr_GetLongVal).result, kIntegerResult);  // a long
  EXPECT_EQ(Form(kRecAddr_Equals).result, kIntegerResult);
  EXPECT_EQ(Form(kDataDictionary_AddTable).result, kPointerResult);
  EXPECT_EQ(Form(kKeyObj_Construct).result, kPointerResult);
  EXPECT_EQ(Form(kStoreObj_GetRecAddr).result, kPointerResult);
  EXPECT_EQ(Form(kDataDictionary_GetFilePath).result, kTextResult);
  EXPECT_EQ(Form(kDataBaseStaticObj_GetDescription).result, kTextResult);
  EXPECT_EQ(Form(kStoreObj_GetRelPosition).result, kStateOnlyResult);
  EXPECT_EQ(Form(kTable_GetField_ByName).result, kFieldResult);
  EXPECT_EQ(Form(kIndex_GetField).result, kPointerResult);
  for (OperationId op : {kDataDictionary_Close, kDataDictionary_SetLocale, kTable_EndReadSequence,
                         kStoreObj_Destroy, kRecAddr_SetLongVal, kStoreObj_SetOrderIndex, kStoreObj_FieldExchange,
                         kStoreObj_FX_Date_ByName}) {
    EXPECT_EQ(Form(op).result, kNoResultRecord) << SignatureText(op);
  }
}

TEST_F(OperationFormsTest, StateItemsFollowTheClass) {
  EXPECT_EQ(Form(kTable_AddField).state, kTableState);
  EXPECT_EQ(Form(kTable_GetField_ByNumber).state, kTableState);
  EXPECT_EQ(Form(kStoreObj_Goto_ByKey).state, kStoreThreeWords);
  EXPECT_EQ(Form(kStoreObj_Update).state, kStoreThreeWords);
  for (OperationId op : {kStoreObj_GetObjType, kStoreObj_GetRecAddr, kStoreObj_GetRelPosition,
                         kStoreObj_SetRelPosition, kStoreObj_SetSourceTable}) {
    EXPECT_EQ(Form(op).state, kStoreFirstWord) << SignatureText(op);
  }
  EXPECT_EQ(Form(kStoreObj_Construct).state, kNoState);
  EXPECT_EQ(Form(kDataDictionary_Open).state, kNoState);
  EXPECT_EQ(Form(kIndex_GetObjType).state, kNoState);
}

TEST_F(OperationFormsTest, ArgumentItemsFollowTheParameterList) {
  auto kinds = [&](OperationId op) {
    std::string text;
    for (ItemKind const kind : Form(op).arguments) text += "IPTRC"[kind];
    return text;
  };
  EXPECT_EQ(kinds(kTable_OpenAccess), "II");
  EXPECT_EQ(kinds(kTable_Pack), "");
  EXPECT_EQ(kinds(kDataDictionary_Construct), "TTTT");
  EXPECT_EQ(kinds(kDataDictionary_SetLocale), "ITT");
  EXPECT_EQ(kinds(kStoreObj_Construct), "PP");
  EXPECT_EQ(kinds(kStoreObj_SetRelPosition), "RI");
  EXPECT_EQ(kinds(kTable_IsRecLocked), "P");
  EXPECT_EQ(kinds(kStoreObj_Goto_ByRecAddr), "PI");
  EXPECT_EQ(kinds(kStoreObj_FX_Char_ByField), "PCI");
  EXPECT_EQ(kinds(kStoreObj_FX_CNumeric_ByName), "TRI");
  EXPECT_EQ(kinds(kStoreObj_FX_LongDouble_ByNumber), "IRI");
  EXPECT_EQ(kinds(kStoreObj_FX_Date_ByNumber), "ITI");
  EXPECT_EQ(kinds(kStoreObj_FX_String_ByName), "TTI");
  EXPECT_EQ(kinds(kStoreObj_FX_StringBuffer_ByField), "PTII");
  EXPECT_TRUE(Form(kStoreObj_FX_Int_ByName).exchange);
  EXPECT_TRUE(Form(kStoreObj_FieldExchange).exchange);
  EXPECT_FALSE(Form(kStoreObj_SetOrderIndex).exchange);
}

TEST_F(OperationFormsTest, AnOperationIsNamedByAnyOfItsNames) {
  OperationForm const& pack = Form(kTable_Pack);
  EXPECT_TRUE(OperationNamed(pack, "Pack"));
  EXPECT_TRUE(OperationNamed(pack, "CTable::Pack"));
  EXPECT_TRUE(OperationNamed(pack, "CTable::Pack(void)"));
  EXPECT_TRUE(OperationNamed(pack, "?Pack@CTable@@QAEHXZ"));
  EXPECT_FALSE(OperationNamed(pack, "CTable::Pac"));
  EXPECT_TRUE(OperationNamed(pack, "pack"));
  EXPECT_TRUE(OperationNamed(pack, "ctable::PACK"));
  EXPECT_FALSE(OperationNamed(Form(kTable_PutTLock), "CTable::Pack"));
}

}  // namespace
}  // namespace tools
}  // namespace tolvan
