#pragma once

// The subset of OLE DB that the rowset helper converts to and from: bindings, column
// descriptions, column identifiers and the published type codes, part bits, memory owners,
// status values and rowset property identifiers.

#include <cstddef>
#include <cstdint>

#include "support/oleauto.h"

typedef uint16_t DBTYPE;
typedef uint32_t DBPART;
typedef uint32_t DBMEMOWNER;
typedef uint32_t DBPARAMIO;
typedef uint32_t DBSTATUS;
typedef uint32_t DBKIND;
typedef uint32_t DBCOLUMNFLAGS;
typedef uint32_t DBPROPID;
typedef uintptr_t DBORDINAL;
typedef uintptr_t DBBYTEOFFSET;
typedef uintptr_t DBLENGTH;
typedef OLECHAR* LPOLESTR;

// Type codes.
enum DBTYPEENUM : DBTYPE {
  DBTYPE_EMPTY = 0,
  DBTYPE_NULL = 1,
  DBTYPE_I2 = 2,
  DBTYPE_I4 = 3,
  DBTYPE_R4 = 4,
  DBTYPE_R8 = 5,
  DBTYPE_CY = 6,
  DBTYPE_DATE = 7,
  DBTYPE_BSTR = 8,
  DBTYPE_IDISPATCH = 9,
  DBTYPE_ERROR = 10,
  DBTYPE_BOOL = 11,
  DBTYPE_VARIANT = 12,
  DBTYPE_IUNKNOWN = 13,
  DBTYPE_DECIMAL = 14,
  DBTYPE_I1 = 16,
  DBTYPE_UI1 = 17,
  DBTYPE_UI2 = 18,
  DBTYPE_UI4 = 19,
  DBTYPE_I8 = 20,
  DBTYPE_UI8 = 21,
  DBTYPE_FILETIME = 64,
  DBTYPE_GUID = 72,
  DBTYPE_BYTES = 128,
  DBTYPE_STR = 129,
  DBTYPE_WSTR = 130,
  DBTYPE_NUMERIC = 131,
  DBTYPE_UDT = 132,
  DBTYPE_DBDATE = 133,
  DBTYPE_DBTIME = 134,
  DBTYPE_DBTIMESTAMP = 135,
  DBTYPE_HCHAPTER = 136,
  DBTYPE_PROPVARIANT = 138,
  DBTYPE_VARNUMERIC = 139,
  // Modifiers.
  DBTYPE_VECTOR = 0x1000,
  DBTYPE_ARRAY = 0x2000,
  DBTYPE_BYREF = 0x4000,
  DBTYPE_RESERVED = 0x8000,
};

// Which parts of a value a binding transfers.
enum DBPARTENUM : DBPART {
  DBPART_INVALID = 0,
  DBPART_VALUE = 0x1,
  DBPART_LENGTH = 0x2,
  DBPART_STATUS = 0x4,
};

enum DBMEMOWNERENUM : DBMEMOWNER {
  DBMEMOWNER_CLIENTOWNED = 0,
  DBMEMOWNER_PROVIDEROWNED = 1,
};

enum DBPARAMIOENUM : DBPARAMIO {
  DBPARAMIO_NOTPARAM = 0,
  DBPARAMIO_INPUT = 1,
  DBPARAMIO_OUTPUT = 2,
};

// Status of one transferred value.
enum DBSTATUSENUM : DBSTATUS {
  DBSTATUS_S_OK = 0,
  DBSTATUS_E_BADACCESSOR = 1,
  DBSTATUS_E_CANTCONVERTVALUE = 2,
  DBSTATUS_S_ISNULL = 3,
  DBSTATUS_S_TRUNCATED = 4,
  DBSTATUS_E_SIGNMISMATCH = 5,
  DBSTATUS_E_DATAOVERFLOW = 6,
  DBSTATUS_E_CANTCREATE = 7,
  DBSTATUS_E_UNAVAILABLE = 8,
  DBSTATUS_E_PERMISSIONDENIED = 9,
  DBSTATUS_E_INTEGRITYVIOLATION = 10,
  DBSTATUS_E_SCHEMAVIOLATION = 11,
  DBSTATUS_E_BADSTATUS = 12,
  DBSTATUS_S_DEFAULT = 13,
};

enum DBKINDENUM : DBKIND {
  DBKIND_GUID_NAME = 0,
  DBKIND_GUID_PROPID = 1,
  DBKIND_NAME = 2,
  DBKIND_PGUID_NAME = 3,
  DBKIND_PGUID_PROPID = 4,
  DBKIND_PROPID = 5,
  DBKIND_GUID = 6,
};

enum DBCOLUMNFLAGSENUM : DBCOLUMNFLAGS {
  DBCOLUMNFLAGS_ISBOOKMARK = 0x1,
  DBCOLUMNFLAGS_MAYDEFER = 0x2,
  DBCOLUMNFLAGS_WRITE = 0x4,
  DBCOLUMNFLAGS_WRITEUNKNOWN = 0x8,
  DBCOLUMNFLAGS_ISFIXEDLENGTH = 0x10,
  DBCOLUMNFLAGS_ISNULLABLE = 0x20,
  DBCOLUMNFLAGS_MAYBENULL = 0x40,
  DBCOLUMNFLAGS_ISLONG = 0x80,
  DBCOLUMNFLAGS_ISROWID = 0x100,
  DBCOLUMNFLAGS_ISROWVER = 0x200,
  DBCOLUMNFLAGS_CACHEDEFERRED = 0x1000,
};

// Rowset property identifiers (the rowset property set).
enum DBPROPENUM_ROWSET : DBPROPID {
  DBPROP_COMMANDTIMEOUT = 0x22,
  DBPROP_MAXOPENROWS = 0x49,
  DBPROP_OTHERINSERT = 0x57,
  DBPROP_OTHERUPDATEDELETE = 0x58,
  DBPROP_OWNINSERT = 0x59,
  DBPROP_OWNUPDATEDELETE = 0x5a,
  DBPROP_UPDATABILITY = 0x75,
  DBPROP_STRONGIDENTITY = 0x77,
  DBPROP_IAccessor = 0x79,
  DBPROP_IColumnsInfo = 0x7a,
  DBPROP_IColumnsRowset = 0x7b,
  DBPROP_IConnectionPointContainer = 0x7c,
  DBPROP_IRowset = 0x7e,
  DBPROP_IRowsetChange = 0x7f,
  DBPROP_IRowsetIdentity = 0x80,
  DBPROP_IRowsetInfo = 0x81,
  DBPROP_IRowsetLocate = 0x82,
  DBPROP_IRowsetResynch = 0x84,
  DBPROP_IRowsetScroll = 0x85,
  DBPROP_IRowsetUpdate = 0x86,
  DBPROP_ISupportErrorInfo = 0x87,
  DBPROP_ILockBytes = 0x88,
  DBPROP_ISequentialStream = 0x89,
  DBPROP_IStorage = 0x8a,
  DBPROP_IStream = 0x8b,
  DBPROP_IConvertType = 0xc2,
};

// Identifies a column: a GUID (or a pointer to one) and a name or a property number, as
// eKind says.
struct DBID {
  union {
    GUID guid;
    GUID* pguid;
  } uGuid;
  DBKIND eKind;
  union {
    LPOLESTR pwszName;
    ULONG ulPropid;
  } uName;
};

class ITypeInfo;
struct DBOBJECT {
  uint32_t dwFlags;
  IID iid;
};
struct DBBINDEXT {
  uint8_t* pExtension;
  uintptr_t ulExtension;
};

// One column binding of an accessor: where the value, length and status parts live in the
// consumer's buffer, and as which type.
struct DBBINDING {
  DBORDINAL iOrdinal;
  DBBYTEOFFSET obValue;
  DBBYTEOFFSET obLength;
  DBBYTEOFFSET obStatus;
  ITypeInfo* pTypeInfo;
  DBOBJECT* pObject;
  DBBINDEXT* pBindExt;
  DBPART dwPart;
  DBMEMOWNER dwMemOwner;
  DBPARAMIO eParamIO;
  DBLENGTH cbMaxLen;
  uint32_t dwFlags;
  DBTYPE wType;
  uint8_t bPrecision;
  uint8_t bScale;
};

// The description of one rowset column.
struct DBCOLUMNINFO {
  LPOLESTR pwszName;
  ITypeInfo* pTypeInfo;
  DBORDINAL iOrdinal;
  DBCOLUMNFLAGS dwFlags;
  DBLENGTH ulColumnSize;
  DBTYPE wType;
  uint8_t bPrecision;
  uint8_t bScale;
  DBID columnid;
};
