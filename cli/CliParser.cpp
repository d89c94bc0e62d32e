#include "CliParser.h"

#include "CliCommandTable.h"
#include "CliContext.h"
#include "CliError.h"
#include "CliSuggest.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

namespace {

constexpr std::string_view kHelpCommand = "help";

// A command's name as the table has it: "list" under "ledger" is "ledger list".
std::string FullName(const CLI::App* app) {
  const CLI::App* parent = app->get_parent();
  return parent == nullptr || parent->get_parent() == nullptr
             ? app->get_name()
             : parent->get_name() + " " + app->get_name();
}

// The commands that group others ("ledger"): what they hold.
std::string GroupSummary(std::string_view group) {
  std::string names;
  for (const TCliCommand& command : TCliCommandTable::Commands()) {
    if (command.name.rfind(std::string(group) + " ", 0) == 0) {
      names += (names.empty() ? "" : ", ") + std::string(command.name.substr(group.size() + 1));
    }
  }
  return std::string(group) + " commands: " + names;
}

// Help as the tool writes it: the usage line first, then what the command does, its options, and
// for the tool the commands and the exit codes.
class THelpFormatter : public CLI::Formatter {
public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode mode) const override {
    std::ostringstream out;
    out << make_usage(app, {});
    const std::string description = app->get_description();
    if (!description.empty()) {
      out << "\n" << Wrapped(description, 0) << "\n";
    }
    out << make_groups(app, mode);
    out << make_subcommands(app, mode);
    const std::string footer = app->get_footer();
    if (!footer.empty()) {
      out << "\n" << footer << "\n";
    }
    return out.str();
  }

  // A command in the tool's list: its name and one line, not its whole description.
  std::string make_subcommand(const CLI::App* sub) const override {
    const TCliCommand* command = TCliCommandTable::Find(FullName(sub));
    std::string name = "  " + sub->get_name();
    name.resize(std::max<size_t>(name.size() + 2, 16), ' ');
    return name + std::string(command ? command->summary : sub->get_description()) + "\n";
  }

  std::string make_usage(const CLI::App* app, std::string) const override {
    if (app->get_parent() == nullptr) {
      return "usage: korvane-cli [GLOBAL OPTIONS] COMMAND [ARGS]\n";
    }
    const TCliCommand* command = TCliCommandTable::Find(FullName(app));
    return "usage: korvane-cli " +
           (command ? std::string(command->synopsis) : app->get_name() + " COMMAND [ARGS]") + "\n";
  }

  // Text broken into lines of at most 100 characters, each indented by `indent` blanks.
  static std::string Wrapped(const std::string& text, size_t indent) {
    std::istringstream words(text);
    std::string word;
    std::string out;
    size_t column = 0;
    while (words >> word) {
      if (column > indent && column + 1 + word.size() > 100) {
        out += "\n";
        column = 0;
      }
      if (column == 0) {
        out += std::string(indent, ' ');
        column = indent;
      } else {
        out += ' ';
        ++column;
      }
      out += word;
      column += word.size();
    }
    return out;
  }
};

std::string ExitCodeText() {
  std::string text = "exit codes:\n";
  for (const TCliExitCode& code : TCliCommandTable::ExitCodes()) {
    std::string number = std::to_string(code.code);
    number.resize(4, ' ');
    text += "  " + number + std::string(code.meaning) + "\n";
  }
  text.pop_back();
  return text;
}

// Stores one global option's value into the context (a flag comes with an empty value).
void StoreGlobal(TCliContext& context, std::string_view name, const std::string& value) {
  if (name == "--simulate") {
    context.simulate.push_back(value);
  } else if (name == "--vidpid") {
    context.vidpid.push_back(value);
  } else if (name == "--json") {
    context.json = true;
  } else if (name == "--simulate-dir") {
    context.simulateDir = value;
  } else if (name == "--simulate-page-delay") {
    context.pageDelay = value;
  }
}

// The global options, declared on the tool and on every command so that they may stand before
// or after the command's name. `context` may be null (help only).
void AddGlobalOptions(CLI::App& app, TCliContext* context) {
  for (const TCliOption& option : TCliCommandTable::GlobalOptions()) {
    const std::string name(option.name);
    const std::string help(option.help);
    const auto store = [context, name](const std::string& value) {
      if (context != nullptr) {
        StoreGlobal(*context, name, value);
      }
    };
    if (option.value.empty()) {
      app.add_flag_callback(
             name, [store] { store({}); }, help)
          ->group("Global options")
          ->disable_flag_override();
    } else {
      app.add_option(name)
          ->description(help)
          ->type_name(std::string(option.value))
          ->group("Global options")
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
          ->each(store);
    }
  }
}

struct TApp {
  std::unique_ptr<CLI::App> app;
  std::map<const CLI::App*, const TCliCommand*> commands;
};

// The command word of a command line: its first argument that is no option and no value of a
// global option; empty when there is none.
std::string CommandWord(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
    if (args[i].compare(0, 1, "-") != 0) {
      return args[i];
    }
    for (const TCliOption& option : TCliCommandTable::GlobalOptions()) {
      if (!option.value.empty() && args[i] == option.name) {
        ++i; // its value
        break;
      }
    }
  }
  return {};
}

bool IsCommandWord(const std::string& word) {
  for (const TCliCommand& command : TCliCommandTable::Commands()) {
    if (command.name.substr(0, command.name.find(' ')) == word) {
      return true;
    }
  }
  return false;
}

// The parser for every command, or (`only` given) for the commands whose first word it is: a
// command line names one, and building the rest would cost a short command much of its time.
TApp BuildApp(TCliContext* context, const std::string& only = {}) {
  TApp built;
  built.app = std::make_unique<CLI::App>(
      "Reads, shows, edits and writes the configuration EEPROM image of USB 2.0 hub "
      "controllers.",
      "korvane-cli");
  CLI::App& app = *built.app;
  app.formatter(std::make_shared<THelpFormatter>());
  app.set_help_flag("-h,--help", "this text; COMMAND --help for one command");
  app.require_subcommand(0, 1);
  AddGlobalOptions(app, context);
  std::map<std::string, CLI::App*> groups;
  for (const TCliCommand& command : TCliCommandTable::Commands()) {
    if (!only.empty() && command.name.substr(0, command.name.find(' ')) != only) {
      continue;
    }
    CLI::App* parent = &app;
    std::string name(command.name);
    if (const size_t space = name.find(' '); space != std::string::npos) {
      const std::string group = name.substr(0, space);
      if (groups.count(group) == 0) {
        groups[group] = app.add_subcommand(group, GroupSummary(group));
        groups[group]->group("Commands");
        groups[group]->require_subcommand(0, 1);
        AddGlobalOptions(*groups[group], context);
      }
      parent = groups[group];
      name = name.substr(space + 1);
    }
    CLI::App* sub = parent->add_subcommand(name, std::string(command.summary));
    sub->description(std::string(command.description));
    sub->group("Commands");
    sub->set_help_flag("-h,--help", "this text");
    // Positionals are taken from what the parser leaves over, in order: an item such as
    // "-serial" is no option and must keep its place among the others.
    sub->allow_extras();
    for (const TCliOption& option : command.options) {
      const std::string name(option.name);
      if (option.value.empty()) {
        sub->add_flag(name)->description(std::string(option.help))->disable_flag_override();
      } else {
        sub->add_option(name)
            ->description(std::string(option.help))
            ->type_name(std::string(option.value))
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
      }
    }
    AddGlobalOptions(*sub, context);
    built.commands[sub] = &command;
  }
  CLI::App* help = app.add_subcommand(std::string(kHelpCommand), "this text, or help COMMAND");
  help->allow_extras();
  help->group("Commands");
  app.footer(ExitCodeText()); // after the commands, which would inherit it
  return built;
}

} // namespace

std::string TCliParser::Help(const TCliCommand* command) {
  const TApp built = BuildApp(nullptr);
  if (command == nullptr) {
    return built.app->help();
  }
  std::string name(command->name);
  CLI::App* app = built.app.get();
  for (size_t space = name.find(' '); space != std::string::npos; space = name.find(' ')) {
    app = app->get_subcommand(name.substr(0, space));
    name = name.substr(space + 1);
  }
  return app->get_subcommand(name)->help();
}

TCliParser::TParsed TCliParser::Parse(const std::vector<std::string>& args, TCliContext& context) {
  // After "--" everything is a positional of the command; the parser never sees it.
  const auto mark = std::find(args.begin(), args.end(), std::string("--"));
  std::vector<std::string> reversed(args.begin(), mark);
  std::reverse(reversed.begin(), reversed.end());

  const std::string word = CommandWord(args);
  TApp built = BuildApp(&context, IsCommandWord(word) ? word : std::string());
  TParsed parsed;
  try {
    built.app->parse(reversed);
  } catch (const CLI::CallForHelp&) {
    // CLI11 reads "-h1" as "-h" followed by more: only -h and --help themselves ask for help, so
    // that a script passing "-h1" as a value does not take the help for success.
    const auto asked = std::find_if(
        args.begin(), mark, [](const std::string& arg) { return arg == "-h" || arg == "--help"; });
    if (asked == mark) {
      const auto stray = std::find_if(args.begin(), mark, [](const std::string& arg) {
        return arg.compare(0, 2, "-h") == 0 || arg.compare(0, 6, "--help") == 0;
      });
      throw TCliError(
          cliexit::kUsage,
          "unknown option " + (stray == mark ? std::string("-h") : *stray) +
              " (-h and --help alone show the help; put -- before a value that begins with -)");
    }
    // The help of the command that was named, or the tool's.
    parsed.help = built.app->help();
    return parsed;
  } catch (const CLI::ParseError& error) {
    // An unknown command, at the top or in a group ("ledger lsit"): the nearest of the known.
    const std::vector<CLI::App*> groups = built.app->get_subcommands();
    const CLI::App* in = groups.empty() ? built.app.get() : groups.front();
    const std::vector<std::string> extras = in->remaining();
    const bool group = !groups.empty() && built.commands.count(in) == 0 &&
                       in->get_subcommands().empty() && in->get_name() != kHelpCommand;
    if ((groups.empty() || group) && !extras.empty() && extras.front().compare(0, 1, "-") != 0) {
      const std::string prefix = group ? in->get_name() + " " : std::string();
      std::vector<std::string_view> names;
      for (const TCliCommand& command : TCliCommandTable::Commands()) {
        if (command.name.compare(0, prefix.size(), prefix) == 0) {
          names.push_back(command.name.substr(prefix.size()));
        }
      }
      const std::string near = TCliSuggest::DidYouMean(extras.front(), names);
      throw TCliError(cliexit::kUsage,
                      "unknown command `" + extras.front() + "`" +
                          (near.empty() ? " (korvane-cli " + prefix + "--help lists them)" : near));
    }
    throw TCliError(cliexit::kUsage,
                    std::string(error.what()) + " (korvane-cli --help lists the commands)");
  }

  const std::vector<CLI::App*> chosen = built.app->get_subcommands();
  if (chosen.empty()) {
    if (mark != args.end()) {
      throw TCliError(cliexit::kUsage, "\"--\" before the command");
    }
    parsed.help = built.app->help();
    parsed.helpIsUsageError = true;
    return parsed;
  }
  CLI::App* sub = chosen.front();
  while (!sub->get_subcommands().empty()) {
    sub = sub->get_subcommands().front(); // "ledger list"
  }
  if (built.commands.count(sub) == 0 && sub->get_name() != kHelpCommand) {
    // A group without its command: what it holds.
    parsed.help = sub->help();
    parsed.helpIsUsageError = true;
    return parsed;
  }
  std::vector<std::string> rest = sub->remaining();
  if (sub->get_name() == kHelpCommand) {
    if (rest.empty()) {
      parsed.help = Help();
      return parsed;
    }
    std::string name = rest.front();
    for (size_t i = 1; i < rest.size(); ++i) {
      name += " " + rest[i];
    }
    const TCliCommand* command = TCliCommandTable::Find(name);
    if (command == nullptr) {
      throw TCliError(cliexit::kUsage, "unknown command \"" + name + "\"");
    }
    parsed.help = Help(command);
    return parsed;
  }

  parsed.command = built.commands.at(sub);
  parsed.args = TCliArgs(std::string(parsed.command->synopsis));
  for (const TCliOption& option : parsed.command->options) {
    const CLI::Option* found = sub->get_option(std::string(option.name));
    if (option.value.empty()) {
      for (size_t i = 0; i < found->count(); ++i) {
        parsed.args.AddOption(std::string(option.name), {});
      }
    } else {
      for (const std::string& value : found->results()) {
        parsed.args.AddOption(std::string(option.name), value);
      }
    }
  }
  for (const std::string& item : rest) {
    if (item.size() > 2 && item.compare(0, 2, "--") == 0) {
      throw TCliError(cliexit::kUsage, "unknown option " + item.substr(0, item.find('=')) +
                                           " (korvane-cli " + std::string(parsed.command->name) +
                                           " --help)");
    }
    parsed.args.AddPositional(item);
  }
  if (mark != args.end()) {
    std::for_each(mark + 1, args.end(),
                  [&parsed](const std::string& item) { parsed.args.AddPositional(item); });
  }
  return parsed;
}
