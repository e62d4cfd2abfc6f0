#include "cli/doctor/checks.hpp"
#include "support/system_clock_and_path.hpp"

namespace lumirex::cli::doctor {

Setting Setting::Resolve(std::optional<std::string> given, std::string option, std::string variable,
                         std::string fallback) {
  Setting setting{std::move(fallback), From::Default, std::move(option), std::move(variable)};
  // As the library reads it: UTF-8 on Windows too, whatever the code page.
  auto env = EnvironmentValue(setting.variable.c_str());
  if (given) {
    setting.value = std::move(*given);
    setting.from = From::Option;
  } else if (env) {
    setting.value = std::move(*env);
    setting.from = From::Environment;
  }
  return setting;
}

std::string Setting::Source() const {
  switch (from) {
    case From::Option:
      return option;
    case From::Environment:
      return variable;
    case From::Default:
      break;
  }
  return "the default";
}

std::string Setting::PointsAt(const std::string& defaultText, const std::string& shown) const {
  if (from == From::Default) return defaultText;
  return Source() + " points at " + (shown.empty() ? value : shown);
}

std::string Setting::Change(const std::string& what) const {
  switch (from) {
    case From::Option:
      return "give " + option + " " + what;
    case From::Environment:
      return "set " + variable + " to " + what;
    case From::Default:
      break;
  }
  return "give " + option + " or set " + variable + " to " + what;
}

}  // namespace lumirex::cli::doctor
