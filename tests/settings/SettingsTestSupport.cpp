#include "SettingsTestSupport.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

// glibc's newlocale does not free the search list it builds from LOCPATH; the leak is the C
// library's, once per lookup of the compiled test locale.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:__argz_add_sep\n";
}

namespace morvane::test {

TFileSizeLimit::TFileSizeLimit(unsigned long bytes) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  if (::sigaction(SIGXFSZ, &ignore, &FPreviousAction) != 0) return;
  if (::getrlimit(RLIMIT_FSIZE, &FPreviousLimit) != 0) return;
  struct rlimit limit = FPreviousLimit;
  limit.rlim_cur = bytes;
  FOk = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

TFileSizeLimit::~TFileSizeLimit() {
  ::setrlimit(RLIMIT_FSIZE, &FPreviousLimit);
  ::sigaction(SIGXFSZ, &FPreviousAction, nullptr);
}

TTempDir::TTempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "morvane-settings-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  // A test may have made parts unwritable.
  std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(FPath, ignored);
}

std::vector<std::string> TTempDir::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FPath))
    names.push_back(entry.path().filename().string());
  return names;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

TScopedNumericLocale::TScopedNumericLocale(locale_t locale)
    : FLocale(locale), FPrevious(::uselocale(locale)) {}

TScopedNumericLocale::~TScopedNumericLocale() {
  ::uselocale(FPrevious);
  ::freelocale(FLocale);
}

locale_t NewCLocale() {
  return ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
}

namespace {

locale_t TryCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "de_DE@euro"}) {
    locale_t locale = ::newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
    if (locale == nullptr) continue;
    locale_t previous = ::uselocale(locale);
    const bool comma = std::string(::localeconv()->decimal_point) == ",";
    ::uselocale(previous);
    if (comma) return locale;
    ::freelocale(locale);
  }
  return nullptr;
}

}  // namespace

locale_t NewCommaLocale(std::string& why) {
  if (locale_t locale = TryCommaLocale()) return locale;

  // Compiled once per machine into a directory of its own; LOCPATH points newlocale at it.
  const std::filesystem::path cache =
      std::filesystem::temp_directory_path() / "morvane-test-locales";
  const std::filesystem::path compiled = cache / "de_DE.UTF-8";
  std::error_code ignored;
  if (!std::filesystem::exists(compiled / "LC_NUMERIC")) {
    std::filesystem::create_directories(cache, ignored);
    // Built beside and renamed into place, so that test processes running side by side never
    // see half a locale.
    std::string staging = (cache / "staging-XXXXXX").string();
    if (::mkdtemp(staging.data()) == nullptr) {
      why = "cannot make a directory under " + cache.string();
      return nullptr;
    }
    const std::string command =
        "localedef -c -i de_DE -f UTF-8 '" + staging + "/de_DE.UTF-8' >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(command.c_str());
    std::filesystem::rename(std::filesystem::path(staging) / "de_DE.UTF-8", compiled, ignored);
    std::filesystem::remove_all(staging, ignored);
  }
  const char* previous = std::getenv("LOCPATH");
  const std::string saved = previous ? previous : "";
  ::setenv("LOCPATH", cache.c_str(), 1);
  locale_t locale = TryCommaLocale();
  if (previous)
    ::setenv("LOCPATH", saved.c_str(), 1);
  else
    ::unsetenv("LOCPATH");
  if (locale == nullptr)
    why =
        "no locale with a decimal comma: de_DE is not installed and localedef (Debian package "
        "locales) could not compile it";
  return locale;
}

int RunUnprivileged(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    int code = 100;
    // 65534 is the unprivileged "nobody" user and "nogroup" group on Debian.
    if (::geteuid() != 0 ||
        (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0))
      code = body();
    ::_exit(code);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void TFakeHost::SetLeft(int left) {
  FLeft = left;
  FEvents.push_back("Left=" + std::to_string(left));
}

void TFakeHost::SetTop(int top) {
  FTop = top;
  FEvents.push_back("Top=" + std::to_string(top));
}

void TFakeHost::SetAppliedVoice(int voice) {
  FAppliedVoice = voice;
  FEvents.push_back("AppliedVoice=" + std::to_string(voice));
}

void TFakeHost::ShowInformationMessage(const std::string& text) {
  FEvents.push_back("Message: " + text);
  if (FOnMessage) FOnMessage();
}

}  // namespace morvane::test
