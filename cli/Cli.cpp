#include "Cli.h"

#include "CliCommandTable.h"
#include "CliError.h"
#include "CliParser.h"

#include <exception>
#include <new>

int TCli::Run(const std::vector<std::string>& args, TCliContext& context) {
  try {
    const TCliParser::TParsed parsed = TCliParser::Parse(args, context);
    if (parsed.command == nullptr) {
      (parsed.helpIsUsageError ? context.err : context.out) << parsed.help;
      return parsed.helpIsUsageError ? cliexit::kUsage : cliexit::kOk;
    }
    return parsed.command->run(context, parsed.args);
  } catch (const TCliError& error) {
    // A NUL (from a JSON key) is written as the escape that brought it.
    std::string shown;
    for (const char c : error.Message()) {
      shown += c == '\0' ? std::string("\\u0000") : std::string(1, c);
    }
    context.err << "korvane-cli: " << shown << "\n";
    return error.Code();
  } catch (const std::bad_alloc&) {
    context.err << "korvane-cli: out of memory\n";
    return cliexit::kSoftware;
  } catch (const std::exception& error) {
    context.err << "korvane-cli: internal error: " << error.what() << "\n";
    return cliexit::kSoftware;
  }
}
