#pragma once

// The subset of OLE Automation that the library's interfaces use: VARIANT values, BSTR strings
// and error information, with the published codes and values.

#include <cstdint>

#include "support/Export.h"

typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef int32_t HRESULT;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef uint32_t LCID;
typedef uint32_t ULONG;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008L)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000AL)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000DL)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define VARCMP_LT 0
#define VARCMP_EQ 1
#define VARCMP_GT 2
#define VARCMP_NULL 3

#define LOCALE_USER_DEFAULT 0x0400
#define NORM_IGNORECASE 0x00000001
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFIID;
typedef const GUID& REFGUID;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

union CY {
  struct {
    uint32_t Lo;
    int32_t Hi;
  };
  int64_t int64;  // value * 10000
};

struct DECIMAL {
  uint16_t wReserved;
  uint8_t scale;  // power of ten dividing the 96-bit integer, 0 to 28
  uint8_t sign;   // 0x80 for negative
  uint32_t Hi32;
  uint64_t Lo64;
};
#define DECIMAL_NEG ((uint8_t)0x80)

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};
typedef IUnknown IDispatch;

struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1, wReserved2, wReserved3;
  union {
    int64_t llVal;
    uint64_t ullVal;
    int32_t lVal;
    uint32_t ulVal;
    uint8_t bVal;
    int8_t cVal;
    int16_t iVal;
    uint16_t uiVal;
    int32_t intVal;
    uint32_t uintVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    VARIANT* pvarVal;
    void* byref;
  };
};
// A DECIMAL occupies the whole VARIANT (its first two bytes are the vt).
inline DECIMAL& V_DECIMAL(VARIANT* v) { return *reinterpret_cast<DECIMAL*>(v); }
inline const DECIMAL& V_DECIMAL(const VARIANT* v) { return *reinterpret_cast<const DECIMAL*>(v); }
typedef VARIANT VARIANTARG;
static_assert(sizeof(VARIANT) >= sizeof(DECIMAL), "a DECIMAL fits in a VARIANT");

extern "C" {
VTQ_EXPORT BSTR SysAllocString(const OLECHAR* text);
VTQ_EXPORT BSTR SysAllocStringLen(const OLECHAR* text, unsigned length);
VTQ_EXPORT int SysReAllocStringLen(BSTR* target, const OLECHAR* text, unsigned length);
VTQ_EXPORT unsigned SysStringLen(BSTR text);
VTQ_EXPORT void SysFreeString(BSTR text);

VTQ_EXPORT void VariantInit(VARIANTARG* v);
VTQ_EXPORT HRESULT VariantClear(VARIANTARG* v);
VTQ_EXPORT HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
VTQ_EXPORT HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);
VTQ_EXPORT HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, uint16_t flags,
                                     VARTYPE type);
VTQ_EXPORT HRESULT VarCmp(const VARIANT* left, const VARIANT* right, LCID lcid, ULONG flags);
VTQ_EXPORT HRESULT VarBstrCmp(BSTR left, BSTR right, LCID lcid, ULONG flags);
VTQ_EXPORT HRESULT VarBstrCat(BSTR left, BSTR right, BSTR* result);
VTQ_EXPORT HRESULT VarDecAdd(const DECIMAL* left, const DECIMAL* right, DECIMAL* result);
VTQ_EXPORT int VariantTimeToDosDateTime(DATE time, uint16_t* dosDate, uint16_t* dosTime);
}

// Error information.
VTQ_EXPORT extern const IID IID_IUnknown;
VTQ_EXPORT extern const IID IID_ISupportErrorInfo;
VTQ_EXPORT extern const IID IID_IErrorInfo;

class ISupportErrorInfo : public IUnknown {
 public:
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

class IErrorInfo : public IUnknown {
 public:
  virtual HRESULT GetGUID(GUID* guid) = 0;
  virtual HRESULT GetSource(BSTR* source) = 0;
  virtual HRESULT GetDescription(BSTR* description) = 0;
  virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
  virtual HRESULT GetHelpContext(uint32_t* helpContext) = 0;
};

// The calling thread's error object: SetErrorInfo takes a reference (null clears it);
// GetErrorInfo hands the object over with that reference and clears it (S_FALSE when none).
extern "C" {
VTQ_EXPORT HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
VTQ_EXPORT HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
}
