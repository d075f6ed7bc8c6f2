// Requests to a server over HTTP (libcurl), answers read as they arrive.

#include <curl/curl.h>

#include <chrono>
#include <exception>
#include <mutex>
#include <random>

#include "Provider.h"
#include "common/ComponentLog.h"

namespace clickhouse {

namespace {

const common::ComponentLog& server_log() {
  static const common::ComponentLog log(moduleName(), "ServerConnection");
  return log;
}

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string new_query_id() {
  static std::mutex mutex;
  static std::mt19937_64 random{std::random_device{}()};
  std::lock_guard<std::mutex> lock(mutex);
  static const char hex[] = "0123456789abcdef";
  std::string id("vtq-");
  uint64_t bits = random();
  for (int i = 0; i < 16; ++i, bits >>= 4) id.push_back(hex[bits & 15]);
  return id;
}

std::string url_encode(const std::string& text) {
  std::string out;
  static const char hex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(hex[u >> 4]);
      out.push_back(hex[u & 15]);
    }
  }
  return out;
}

// The first line of a server's error text, without its stack trace, at most 1000 bytes.
std::string server_message(const std::string& body) {
  std::string text = body.substr(0, body.find('\n'));
  if (text.size() > 1000) text.resize(1000);
  return text;
}

// The state of one request while curl runs it.
struct Transfer {
  CURL* easy = nullptr;
  long status = 0;
  std::string errorBody;  // the answer when it is no result
  TabSeparatedReader reader;
  const std::function<std::string(const std::vector<std::string>&,
                                  const std::vector<std::string>&)>* checkTypes = nullptr;
  bool typesChecked = false;
  std::string problem;         // why the answer was refused
  std::exception_ptr failure;  // thrown by the row handler
  explicit Transfer(const TabSeparatedReader::RowHandler& onRow) : reader(onRow) {}
};

size_t on_data(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (t->status == 0) curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &t->status);
  if (t->status != 200) {
    if (t->errorBody.size() < 65536)
      t->errorBody.append(data, std::min(bytes, 65536 - t->errorBody.size()));
    return bytes;
  }
  try {
    std::string_view rest(data, bytes);
    // The types are checked as soon as they are known, before a record reaches the handler.
    while (!rest.empty()) {
      if (!t->typesChecked && t->reader.types().empty()) {
        const size_t line = rest.find('\n');
        const std::string_view piece =
            rest.substr(0, line == std::string_view::npos ? rest.size() : line + 1);
        if (!t->reader.feed(piece)) break;
        rest.remove_prefix(piece.size());
        continue;
      }
      if (!t->typesChecked) {
        t->typesChecked = true;
        if (t->checkTypes && *t->checkTypes) {
          t->problem = (*t->checkTypes)(t->reader.names(), t->reader.types());
          if (!t->problem.empty()) return 0;
        }
      }
      if (!t->reader.feed(rest)) break;
      rest = {};
    }
    if (!t->reader.problem().empty()) {
      t->problem = t->reader.problem();
      return 0;
    }
  } catch (...) {
    t->failure = std::current_exception();
    return 0;
  }
  return bytes;
}

using Request = std::unique_ptr<CURL, void (*)(CURL*)>;

// A request that posts `body` to `url` as the settings' user within their timeouts, its answer
// handed to `write` with `user`. `url` and `body` must outlive it. Throws
// CLICKHOUSE_E_UNREACHABLE naming `server` and `purpose` when libcurl gives no handle.
Request new_request(const ServerSettings& settings, const std::string& url, const std::string& body,
                    curl_write_callback write, void* user, const TOVAString& server,
                    const TOVAString& purpose) {
  Request easy(curl_easy_init(), curl_easy_cleanup);
  if (!easy)
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_UNREACHABLE, server, purpose, "no HTTP handle");
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy.get(), CURLOPT_USERNAME, settings.user.c_str());
  // The password is read when needed and never kept nor logged.
  const char* password =
      settings.passwordVariable.empty() ? nullptr : std::getenv(settings.passwordVariable.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_PASSWORD, password ? password : "");
  curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT_MS, settings.connectTimeoutMs);
  curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, settings.timeoutMs);
  curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, user);
  return easy;
}

}  // namespace

ServerConnection::ServerConnection(ServerSettings settings) : m_Settings(std::move(settings)) {
  while (!m_Settings.url.empty() && m_Settings.url.back() == '/') m_Settings.url.pop_back();
}

std::string ServerConnection::describe() const {
  return m_Settings.url + " (user " + m_Settings.user + ")";
}

void ServerConnection::select(
    const std::string& sql, const TOVAString& purpose,
    const std::function<std::string(const std::vector<std::string>&,
                                    const std::vector<std::string>&)>& checkTypes,
    const TabSeparatedReader::RowHandler& onRow, const std::atomic<bool>* interrupt) const {
  global_init();
  const std::string queryId = new_query_id();
  const TOVAString server(describe());
  server_log().logAt(4, "%s on %s, query %s: %s", purpose, server, TOVAString(queryId),
                     TOVAString(sql));
  const long seconds = std::max(1L, (m_Settings.timeoutMs + 999) / 1000);
  // The server finishes the statement before it answers, so that an error it meets arrives as
  // an error status rather than as text inside the rows.
  const std::string url = m_Settings.url + "/?database=" + url_encode(m_Settings.database) +
                          "&query_id=" + queryId + "&wait_end_of_query=1&max_query_size=268435456" +
                          "&max_execution_time=" + std::to_string(seconds);
  const std::string body = sql + "\nFORMAT TabSeparatedWithNamesAndTypes";

  Transfer transfer(onRow);
  transfer.checkTypes = &checkTypes;
  Request easy = new_request(m_Settings, url, body, on_data, &transfer, server, purpose);
  std::unique_ptr<CURLM, CURLMcode (*)(CURLM*)> multi(curl_multi_init(), curl_multi_cleanup);
  if (!multi)
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_UNREACHABLE, server, purpose, "no HTTP handle");
  transfer.easy = easy.get();
  curl_multi_add_handle(multi.get(), easy.get());

  int running = 1;
  bool interrupted = false;
  while (running) {
    curl_multi_perform(multi.get(), &running);
    if (!running) break;
    if (interrupt && interrupt->load()) {
      interrupted = true;
      break;
    }
    curl_multi_poll(multi.get(), nullptr, 0, 50, nullptr);
  }
  CURLcode result = CURLE_OK;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &left))
    if (message->msg == CURLMSG_DONE) result = message->data.result;
  curl_multi_remove_handle(multi.get(), easy.get());
  if (transfer.status == 0) curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &transfer.status);

  auto kill_query = [&] {
    try {
      execute("KILL QUERY WHERE query_id = " + quoteLiteral(queryId),
              "stopping an abandoned query");
    } catch (const olap_api::ApiException& e) {
      server_log().logAt(2, "the query %s could not be stopped: %s", TOVAString(queryId),
                         e.getMessage());
    }
  };
  if (interrupted) {
    easy.reset();  // closes the request
    kill_query();
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_INTERRUPTED, purpose, server);
  }
  if (transfer.failure) std::rethrow_exception(transfer.failure);
  if (!transfer.problem.empty())
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_BAD_RESPONSE, server, purpose,
                                TOVAString(transfer.problem));
  switch (result) {
    case CURLE_OK:
      break;
    case CURLE_OPERATION_TIMEDOUT:
      easy.reset();
      kill_query();
      raise<RunTimeExceptionImpl>(CLICKHOUSE_E_TIMEOUT, server, purpose, m_Settings.timeoutMs);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
      raise<RunTimeExceptionImpl>(
          CLICKHOUSE_E_BAD_RESPONSE, server, purpose,
          TOVAString("the connection closed in the middle of the answer (") +
              curl_easy_strerror(result) + ")");
    default:
      raise<RunTimeExceptionImpl>(CLICKHOUSE_E_UNREACHABLE, server, purpose,
                                  curl_easy_strerror(result));
  }
  if (transfer.status != 200)
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_SERVER_ERROR, server, purpose, transfer.status,
                                TOVAString(server_message(transfer.errorBody)));
  if (!transfer.reader.finish())
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_BAD_RESPONSE, server, purpose,
                                TOVAString(transfer.reader.problem()));
}

void ServerConnection::execute(const std::string& sql, const TOVAString& purpose) const {
  global_init();
  const TOVAString server(describe());
  const std::string url = m_Settings.url + "/?database=" + url_encode(m_Settings.database);
  std::string answer;
  // Only the start of an answer is kept: it is an error's text at most.
  const curl_write_callback keep = [](char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<std::string*>(user);
    if (out->size() < 65536) out->append(data, std::min(size * count, 65536 - out->size()));
    return size * count;
  };
  Request easy = new_request(m_Settings, url, sql, keep, &answer, server, purpose);
  const CURLcode result = curl_easy_perform(easy.get());
  if (result == CURLE_OPERATION_TIMEDOUT)
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_TIMEOUT, server, purpose, m_Settings.timeoutMs);
  if (result != CURLE_OK)
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_UNREACHABLE, server, purpose,
                                curl_easy_strerror(result));
  long status = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status != 200)
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_SERVER_ERROR, server, purpose, status,
                                TOVAString(server_message(answer)));
}

}  // namespace clickhouse
