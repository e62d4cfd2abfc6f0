// The library's own configuration and regional settings. Every setter and
// getter is safe to call from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumirex::settings {

// Base folder of the log and of the embedded database: the folder set by the
// host, else $LUMIREX_BASE_DIR, else the running executable's folder.
std::string BaseDir();
// Whether dir is what BaseDir() gives, without a copy of it inside a call.
bool IsBaseDir(std::string_view dir);
void SetBaseDir(std::optional<std::string> dir);

// Connection string of the point-of-sale database: the one set by the host,
// else $LUMIREX_DB, else 'sqlite3://db="<base>/Dados/pos.sqlite" readonly=1'
// (the path quoted and escaped as QuoteOptionValue does).
std::string ConnectionString();
void SetConnectionString(std::optional<std::string> connection);

// The certificates (a PEM file) that an HTTPS service's certificate may be
// signed by: the file set by the host, else $LUMIREX_CA_FILE; none means the
// system's store.
std::optional<std::string> CaFile();
void SetCaFile(std::optional<std::string> file);

// Decimal separator of number texts; ',' unless the host sets '.'. Any other
// character is refused (false) and the setting stays: with NUL or a digit,
// 0.75 would go out as "075".
char DecimalSeparator();
bool SetDecimalSeparator(char separator);

// The encoding of every text that crosses the library's boundary: the
// parameters, the result, the request documents, the log. Windows-1252 keeps
// the platform's behaviour; a UTF-8 host gets UTF-8 throughout.
enum class HostEncoding { Windows1252, Utf8 };

// The encoding a name stands for ("windows-1252", "cp1252", "UTF-8", "utf8",
// any case), or nullopt for a name not known.
std::optional<HostEncoding> HostEncodingNamed(std::string_view name);

// The encoding set by the host, else $LUMIREX_HOST_ENCODING when it names
// one, else Windows-1252. Setting a name not known is refused (false) and the
// setting stays; nullopt restores the default.
HostEncoding CurrentHostEncoding();
bool SetHostEncoding(std::optional<std::string_view> name);

// While it lives, this thread reads the host encoding and the base folder
// once each, at their first use, and keeps what it read: a call reads them
// for every text and every log line, and the environment and the
// executable's folder are not worth asking again within one call. Scopes
// nest: the inner one keeps what it reads until it ends. What the host sets
// from another thread meanwhile counts from the next call on.
class CallSettings {
 public:
  CallSettings() noexcept;
  ~CallSettings();
  CallSettings(const CallSettings&) = delete;
  CallSettings& operator=(const CallSettings&) = delete;

 private:
  friend HostEncoding CurrentHostEncoding();
  friend std::string BaseDir();
  friend bool IsBaseDir(std::string_view dir);

  std::optional<HostEncoding> encoding_;
  std::optional<std::string> baseDir_;
  CallSettings* outer_;
};

// The operator message sink. Without a handler, "lumirex: <text>" goes to stderr.
using MessageSink = std::function<void(const std::string& text)>;
void SetMessageSink(MessageSink sink);
void DeliverMessage(const std::string& text) noexcept;

}  // namespace lumirex::settings
