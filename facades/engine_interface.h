// The engine's class interface as the host knows it. The module implements
// these members as facades; the compiler's decoration of each declaration is
// the export name and the engine entry's name alike, so every declaration
// here must stay exactly as the engine declares it (constness, virtuality,
// parameter and result types, and the order of the virtual members).
//
// The destructors are not noexcept: an exception from the engine's destructor
// passes through the facade to the host, as it would without the module.
#ifndef TOLVAN_FACADES_ENGINE_INTERFACE_H
#define TOLVAN_FACADES_ENGINE_INTERFACE_H

// Enumerations whose values the module passes through; only the names matter.
// Each holds any int: the engine has values the module does not name.
enum ObjectType : int { kObjectTypeNone };
enum CompCtl : int { kCompCtlNone };
enum NavCtrl : int { kNavCtrlNone };
enum LockCtrl : int { kLockCtrlNone };
enum ShareModeCtl : int { kShareModeNone = 0, kShareModeShared = 1, kShareModeExclusive = 2 };
enum SafetyCtl : int { kSafetyNone = 0, kSafetyNormal = 1, kSafetyBeforeExclusive = 2 };
enum TLockModeCtl : int { kTLockModeNone = 0, kTLockModeRead = 2 };
enum TransactionCtl : int { kTransactionCtlNone };
enum TableType : int { kTableTypeNone };

class CField;
class CIndex;
class CKeyObj;
class CRecAddr;
class CTable;
class CNumeric;

namespace tolvan {
struct RecordAddressOf;
}
class CDate;
class CString;

class CDataDictionary {
 public:
  CDataDictionary(char const* sysPath, char const* admPath, char const* userPath, char const* filePath);
  virtual ~CDataDictionary() noexcept(false);
  virtual ObjectType GetObjType() const;

  CTable* AddTable(char const* name);
  int BeginTransaction();
  void Close();
  int DeleteTable(int number);
  int DeleteTable(CTable* table);
  int DeleteTable(char const* name);
  int EndTransaction(TransactionCtl control);
  char const* GetFilePath(TableType type) const;
  CTable* GetTable(int number);
  CTable* GetTable(char const* name);
  int Open(char const* path);
  int OpenEmpty();
  int SetAdmFilePath(char const* path);
  static void SetLocale(int locale, unsigned char* upper, unsigned char* lower);
  int SetSysFilePath(char const* path);
  int SetUserFilePath(char const* path);
};

class CTable {
 public:
  virtual ObjectType GetObjType() const;

  // Share-mode policy and the operations it calls.
  int OpenAccess(ShareModeCtl mode, SafetyCtl safety);
  int CloseAccess(SafetyCtl safety);
  int Pack();
  int ReIndex();
  int Clear();
  int BeginReadSequence();
  void EndReadSequence();
  int PutTLock(TLockModeCtl mode);

  // Structure and status.
  CField* AddField(char const* name);
  CIndex* AddIndex(char const* name);
  int DeleteField(int number);
  int DeleteField(CField* field);
  int DeleteField(char const* name);
  int DeleteIndex(int number);
  int DeleteIndex(CIndex* index);
  int DeleteIndex(char const* name);
  int EnableIndexing(int enable);
  CField* GetField(int number);
  CField* GetField(char const* name);
  CIndex* GetIndex(int number);
  CIndex* GetIndex(char const* name);
  TLockModeCtl GetTLockMode() const;
  int IsBufDirty() const;
  int IsOpen() const;
  int IsRecLocked(CRecAddr& address) const;
};

class CRecAddr {
 public:
  CRecAddr(CRecAddr const& source);
  explicit CRecAddr(CRecAddr const* source);
  virtual ~CRecAddr() noexcept(false);
  virtual ObjectType GetObjType() const;

  int operator==(CRecAddr const& other) const;
  long GetLongVal() const;
  void SetLongVal(long value);

 private:
  // Not exported and unknown to the engine: builds the record address that
  // CStoreObj::GetRecAddr returns directly in the host's storage.
  friend class CStoreObj;
  explicit CRecAddr(tolvan::RecordAddressOf const& source);
};

class CKeyObj {
 public:
  CKeyObj(CIndex* index, int first, int second);
  virtual ~CKeyObj() noexcept(false);
  virtual ObjectType GetObjType() const;
  // The third slot of the key's virtual table: not exported, does nothing.
  virtual void Reserved();

  void SetKeyLength(int first, int second);
};

class CIndex {
 public:
  virtual ObjectType GetObjType() const;
  CField* GetField(int number);
};

class CDataBaseStaticObj {
 public:
  char const* GetDescription() const;
};

class CStoreObj {
 public:
  CStoreObj(CTable* table, CIndex* index);
  virtual ~CStoreObj() noexcept(false);
  virtual ObjectType GetObjType() const;

  int Compare(CKeyObj* key, CompCtl control);
  int Delete();
  CRecAddr GetRecAddr() const;
  double GetRelPosition();
  int Goto(CRecAddr const& address, int flags);
  int Goto(CKeyObj* key, CompCtl control, int flags);
  int Goto(NavCtrl direction, int count);
  int Locking(LockCtrl control);
  int New();
  int ReRead();
  void SetOrderIndex(CIndex* index);
  int SetRelPosition(double position, int flags);
  int SetSourceTable(CTable* table);
  int Update();

  void FX_Char(int field, char& value, int direction);
  void FX_Char(CField* field, char& value, int direction);
  void FX_Char(char const* field, char& value, int direction);
  void FX_Int(int field, int& value, int direction);
  void FX_Int(CField* field, int& value, int direction);
  void FX_Int(char const* field, int& value, int direction);
  void FX_Long(int field, long& value, int direction);
  void FX_Long(CField* field, long& value, int direction);
  void FX_Long(char const* field, long& value, int direction);
  void FX_Double(int field, double& value, int direction);
  void FX_Double(CField* field, double& value, int direction);
  void FX_Double(char const* field, double& value, int direction);
  void FX_LongDouble(int field, long double& value, int direction);
  void FX_LongDouble(CField* field, long double& value, int direction);
  void FX_LongDouble(char const* field, long double& value, int direction);
  void FX_CNumeric(int field, CNumeric& value, int direction);
  void FX_CNumeric(CField* field, CNumeric& value, int direction);
  void FX_CNumeric(char const* field, CNumeric& value, int direction);
  void FX_Date(int field, CDate& value, int direction);
  void FX_Date(CField* field, CDate& value, int direction);
  void FX_Date(char const* field, CDate& value, int direction);
  void FX_String(int field, CString& value, int direction);
  void FX_String(CField* field, CString& value, int direction);
  void FX_String(char const* field, CString& value, int direction);
  void FX_String(int field, char* buffer, long length, int direction);
  void FX_String(CField* field, char* buffer, long length, int direction);
  void FX_String(char const* field, char* buffer, long length, int direction);

 protected:
  virtual void FieldExchange(int direction);
};

#endif
