#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "VtqTest.h"
#include "common/ComponentLog.h"
#include "common/OLAPBrowsable.h"
#include "common/ProviderLibrary.h"
#include "common/Session.h"
#include "common/Utilities.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"
#include "support/ListenerList.h"

namespace {

using vtq_testing::VtqTest;

class UtilitiesTest : public VtqTest {
 protected:
  void TearDown() override {
    common::unregisterSessionManager();
    SetErrorInfo(0, nullptr);
    VtqTest::TearDown();
  }
};

TEST_F(UtilitiesTest, DataTypeSizesAndAssertionReports) {
  using namespace support;
  auto& log = captureLog(1);
  const uint64_t before = support_dll::assertionFailureCount();
  // Fixed sizes are the C sizes; text has none (-1); pointers to text are 32-bit handles.
  EXPECT_EQ(static_cast<int32_t>(sizeof(int64_t)), common::sizeOfDataType(DT_SI64));
  EXPECT_EQ(static_cast<int32_t>(sizeof(double)), common::sizeOfDataType(DT_DOUBLE));
  EXPECT_EQ(1, common::sizeOfDataType(DT_BOOLEAN));
  EXPECT_EQ(4, common::sizeOfDataType(DT_PTR_UTF8));
  EXPECT_EQ(-1, common::sizeOfDataType(DT_UCS2));
  EXPECT_EQ(0, common::sizeOfDataType(DT_NULL));
  EXPECT_EQ(before, support_dll::assertionFailureCount());
  EXPECT_TRUE(log.records().empty());

  // Types without a size, known or not, answer 0 and report an assertion each.
  for (DataType type : {DT_CURRENCY, DT_DATETIME, DT_BLOB, static_cast<DataType>(31)})
    EXPECT_EQ(0, common::sizeOfDataType(type)) << type;
  EXPECT_EQ(before + 4, support_dll::assertionFailureCount());
  ASSERT_EQ(4u, log.records().size());
  EXPECT_NE(std::string::npos, log.records()[0].text.string().find("Not implemented"));

  for (int t = DT_UNKNOWN; t <= DT_UCS2_VECTOR; ++t)
    EXPECT_EQ(t >= DT_UCS2 && t <= DT_PTR_UTF8, common::isStringDataType(static_cast<DataType>(t)))
        << t;
}

TEST_F(UtilitiesTest, CompareTwoVariantsNeedsSameTypeAndValue) {
  VARIANT i, d, s1, s2, n1, n2;
  for (VARIANT* v : {&i, &d, &s1, &s2, &n1, &n2}) VariantInit(v);
  i.vt = VT_I4;
  i.lVal = 1;
  d.vt = VT_R8;
  d.dblVal = 1.0;
  s1.vt = s2.vt = VT_BSTR;
  s1.bstrVal = SysAllocString(u"");
  s2.bstrVal = SysAllocString(u"");
  n1.vt = n2.vt = VT_NULL;
  EXPECT_FALSE(common::CompareTwoVariants(i, d));
  EXPECT_TRUE(common::CompareTwoVariants(s1, s2));
  EXPECT_TRUE(common::CompareTwoVariants(n1, n2));
  EXPECT_FALSE(common::CompareTwoVariants(n1, i));
  EXPECT_TRUE(common::CompareTwoVariants(i, i));
  VARIANT j = i;
  j.lVal = 2;
  EXPECT_FALSE(common::CompareTwoVariants(i, j));
  SysFreeString(s2.bstrVal);
  s2.bstrVal = SysAllocString(u"x");
  EXPECT_FALSE(common::CompareTwoVariants(s1, s2));

  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x0FFF;
  try {
    common::CompareTwoVariants(bad, i);
    ADD_FAILURE() << "an uncopyable value must raise";
  } catch (const olap_api::COMException& e) {
    EXPECT_EQ(static_cast<uint32_t>(DISP_E_BADVARTYPE), e.getCode());
  }
  for (VARIANT* v : {&s1, &s2}) VariantClear(v);
}

// A COM object that reports errors through the thread's error object.
class FakeErrorInfo : public IErrorInfo {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT GetSource(BSTR* s) override { *s = source ? SysAllocString(source) : nullptr; return S_OK; }
  HRESULT GetDescription(BSTR* d) override { *d = SysAllocString(u"the server is down"); return S_OK; }
  HRESULT GetHelpFile(BSTR* f) override { *f = SysAllocString(u"help.hlp"); return S_OK; }
  HRESULT GetHelpContext(uint32_t* c) override { *c = 12; return S_OK; }
  const char16_t* source = nullptr;
  int refs = 0;
};

class FakeSession : public ISPorticoSession {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  int refs = 0;
};

class FakeManager : public common::ISessionManager, public ISupportErrorInfo {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_ISupportErrorInfo && supportsErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == common::IID_ISessionManager ? S_OK : S_FALSE;  // S_FALSE: not supported
  }
  HRESULT GetSession(BSTR text, ISPorticoSession** s) override { return answer(text, s); }
  HRESULT DeserializeSession(BSTR text, ISPorticoSession** s) override { return answer(text, s); }

  HRESULT answer(BSTR text, ISPorticoSession** s) {
    received = std::u16string(text, SysStringLen(text));
    if (fail) {
      SetErrorInfo(0, &error);
      *s = nullptr;
      return E_FAIL;
    }
    session.AddRef();
    *s = &session;
    return S_OK;
  }

  int refs = 0;
  bool fail = false;
  bool supportsErrorInfo = true;
  std::u16string received;
  FakeSession session;
  FakeErrorInfo error;
};

TEST_F(UtilitiesTest, ErrorInformationComesFromTheErrorObject) {
  FakeManager manager;
  TOVAString description = "stale", source = "stale";
  common::obtainErrorInformation(0, nullptr, common::IID_ISessionManager, description, source);
  EXPECT_TRUE(description.empty() && source.empty());

  manager.error.source = u"SessionServer";
  SetErrorInfo(0, &manager.error);
  common::obtainErrorInformation(0, static_cast<common::ISessionManager*>(&manager),
                                 common::IID_ISessionManager, description, source);
  EXPECT_EQ("the server is down", description);
  EXPECT_EQ("SessionServer", source);
  EXPECT_EQ(0, manager.refs);        // the ISupportErrorInfo face was released
  EXPECT_EQ(0, manager.error.refs);  // the error object was handed over and released

  // Not supported for that interface, or no error info on the object: both stay empty.
  SetErrorInfo(0, &manager.error);
  common::obtainErrorInformation(0, static_cast<common::ISessionManager*>(&manager),
                                 IID_IErrorInfo, description, source);
  EXPECT_TRUE(description.empty() && source.empty());
  manager.supportsErrorInfo = false;
  common::obtainErrorInformation(0, static_cast<common::ISessionManager*>(&manager),
                                 common::IID_ISessionManager, description, source);
  EXPECT_TRUE(description.empty() && source.empty());
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(0, manager.error.refs);

  manager.supportsErrorInfo = true;
  manager.error.source = nullptr;  // a null text reads as empty
  SetErrorInfo(0, &manager.error);
  common::obtainErrorInformation(0, static_cast<common::ISessionManager*>(&manager),
                                 common::IID_ISessionManager, description, source);
  EXPECT_EQ("the server is down", description);
  EXPECT_TRUE(source.empty());
}

TEST_F(UtilitiesTest, SessionsComeFromTheRegisteredManager) {
  // Nothing registered: the manager cannot be created.
  for (auto call : {&common::get_session, &common::deserialize_session}) {
    try {
      call("PROD");
      ADD_FAILURE() << "expected a configuration exception";
    } catch (const olap_api::ConfigurationException& e) {
      EXPECT_EQ(support::COMMON_E_NO_SESSION_MANAGER, e.getCode());
      EXPECT_EQ("COMMONMODULE", e.getModule());
      EXPECT_NE(std::string::npos, e.getMessage().string().find("session"));
    }
  }
  common::registerSessionManager([] { return nullptr; });
  EXPECT_THROW(common::get_session("PROD"), olap_api::ConfigurationException);

  FakeManager manager;
  common::registerSessionManager([&manager] {
    manager.AddRef();
    return static_cast<common::ISessionManager*>(&manager);
  });
  ISPorticoSession* s = common::get_session("PROD");
  EXPECT_EQ(&manager.session, s);
  EXPECT_EQ(u"PRODSERVER", manager.received);
  EXPECT_EQ(0, manager.refs);
  s->Release();
  s = common::deserialize_session("serialised-text");
  EXPECT_EQ(&manager.session, s);
  EXPECT_EQ(u"serialised-text", manager.received);
  s->Release();
  EXPECT_EQ(0, manager.session.refs);

  // A refused session is null, with the error's description logged at verbosity 3.
  manager.fail = true;
  auto& log = captureLog(3);
  EXPECT_EQ(nullptr, common::get_session("PROD"));
  EXPECT_EQ(nullptr, common::deserialize_session("x"));
  auto records = log.records();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(support::COMMON_LOG_ERROR, records[0].messageId);
  EXPECT_EQ(3, records[0].verbosity);
  EXPECT_EQ("utilities@COMMONMODULE", records[0].unit);
  EXPECT_EQ("common::get_session", records[0].function);
  EXPECT_EQ("the server is down", records[0].text.string());
  EXPECT_EQ("common::deserialize_session", records[1].function);
  EXPECT_EQ(0, manager.refs);
  EXPECT_EQ(0, manager.error.refs);

  captureLog(2);
  EXPECT_EQ(nullptr, common::get_session("PROD"));
  EXPECT_EQ(2u, log.records().size());
}

class FakeLibrary : public common::ProviderLibrary {
 public:
  common::ViewpointBase* createDerivedViewpoint(NUVA_o::Viewpoint*) override { return nullptr; }
  ISPorticoSession* deserializeSession(const TOVAString&) override { return nullptr; }
};

TEST_F(UtilitiesTest, ProviderLibrariesByName) {
  FakeLibrary first, second;
  try {
    common::createProviderLibrary("nowhere");
    ADD_FAILURE() << "an unknown provider must raise";
  } catch (const olap_api::ApiException& e) {
    EXPECT_EQ(support::COMMON_E_UNKNOWN_PROVIDER, e.getCode());
    ASSERT_EQ(1u, e.getInserts().size());
    EXPECT_EQ("nowhere", e.getInserts()[0]);
    EXPECT_EQ("Unknown provider 'nowhere'.", e.getMessage().string());
    EXPECT_NE(nullptr, dynamic_cast<const olap_api::ConfigurationException*>(&e));
  }
  common::registerProviderLibrary("fake", &first);
  EXPECT_EQ(&first, common::createProviderLibrary("fake"));
  common::registerProviderLibrary("fake", &second);
  EXPECT_EQ(&second, common::createProviderLibrary("fake"));
  EXPECT_THROW(common::createProviderLibrary("FAKE"), olap_api::ConfigurationException);

  // Registration and lookup from several threads.
  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &first, &found] {
      TOVAString name;
      name.build("lib%d", t);
      for (int i = 0; i < 200; ++i) {
        common::registerProviderLibrary(name, &first);
        if (common::createProviderLibrary(name) == &first) ++found;
        common::unregisterProviderLibrary(name);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(800, found.load());
  common::unregisterProviderLibrary("fake");
  EXPECT_THROW(common::createProviderLibrary("fake"), olap_api::ConfigurationException);

  struct Browsable : common::OLAPBrowsable {};
  std::unique_ptr<common::OLAPBrowsable> b = std::make_unique<Browsable>();
  EXPECT_NE(nullptr, dynamic_cast<Browsable*>(b.get()));
}

}  // namespace

namespace listeners {

struct Recorder {
  std::vector<std::string>* calls;
  std::string name;
  std::function<void()> onCall;
  void hear() {
    calls->push_back(name);
    if (onCall) onCall();
  }
};

}  // namespace listeners

// Listeners that remove themselves or each other mid-notification must neither be called after
// removal nor make the notification skip or repeat anyone else.
TEST_F(UtilitiesTest, ListenerListsSurviveRemovalDuringNotification) {
  using listeners::Recorder;
  std::vector<std::string> calls;
  support::ListenerList<Recorder> list;
  Recorder a{&calls, "a", {}}, b{&calls, "b", {}}, c{&calls, "c", {}}, d{&calls, "d", {}};
  list.add(&a);
  list.add(&b);
  list.add(&c);
  list.add(nullptr);
  a.onCall = [&] { list.remove(&a); };                    // removes itself
  b.onCall = [&] { list.remove(&c); list.add(&d); };      // removes a later one, adds another
  list.notify([](Recorder* r) { r->hear(); });
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), calls);
  EXPECT_EQ((std::vector<Recorder*>{&b, &d}), list.snapshot());

  calls.clear();
  b.onCall = nullptr;
  list.add(&b);  // twice: called twice, removed with one call
  list.notify([](Recorder* r) { r->hear(); });
  EXPECT_EQ((std::vector<std::string>{"b", "d", "b"}), calls);
  EXPECT_TRUE(list.remove(&b));
  EXPECT_FALSE(list.remove(&b));
  EXPECT_FALSE(list.contains(&b));
  EXPECT_EQ(1u, list.size());
}
