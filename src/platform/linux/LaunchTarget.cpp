// SPDX-License-Identifier: MIT
#include "platform/linux/LaunchTarget.h"

#include <algorithm>
#include <array>
#include <vector>

namespace exitwise::platform {

namespace {

enum class WrapperKind
{
    none,
    runner,      // runs its remaining arguments as a command: env, nice, setsid, …
    shell,       // sh -c "command" or sh script
    interpreter, // the first operand is the script
    java,
    flatpak,
    opaque // starts something we cannot name from its arguments (bwrap, snap)
};

// The name lists own their storage: an initializer_list member would point at an array that
// some compilers (clang) destroy once the table is built.
struct WrapperFamily
{
    WrapperKind kind;
    std::vector<std::string_view> names;
};

// Names without a version suffix: "python3.11" is looked up as "python".
const std::array kWrappers{
    WrapperFamily{WrapperKind::runner,
                  {"env",         "nice",          "nohup",    "setsid",      "stdbuf",
                   "ionice",      "timeout",       "taskset",  "chrt",        "gamemoderun",
                   "prime-run",   "firejail",      "torsocks", "dbus-launch", "dbus-run-session",
                   "systemd-run", "flatpak-spawn", "sudo",     "pkexec",      "doas",
                   "exec"}},
    WrapperFamily{WrapperKind::shell, {"sh", "bash", "dash", "zsh", "ksh", "mksh", "fish", "csh", "tcsh"}},
    WrapperFamily{WrapperKind::interpreter,
                  {"python", "pypy", "perl", "ruby", "node", "nodejs", "gjs", "lua", "luajit", "php", "tclsh",
                   "wish", "mono", "dotnet", "electron", "qml", "qmlscene"}},
    WrapperFamily{WrapperKind::java, {"java"}},
    WrapperFamily{WrapperKind::flatpak, {"flatpak"}},
    WrapperFamily{WrapperKind::opaque, {"bwrap", "snap", "busybox"}},
};

// Options of each wrapper that take the next argument as their value.
struct ValueOptions
{
    std::string_view wrapper;
    std::vector<std::string_view> options;
};

const std::array kValueOptions{
    ValueOptions{"env", {"-u", "--unset", "-C", "--chdir"}},
    ValueOptions{"nice", {"-n", "--adjustment"}},
    ValueOptions{"ionice", {"-c", "--class", "-n", "--classdata"}},
    ValueOptions{"stdbuf", {"-i", "-o", "-e"}},
    ValueOptions{"timeout", {"-s", "--signal", "-k", "--kill-after"}},
    ValueOptions{"systemd-run",
                 {"-u", "--unit", "-p", "--property", "-E", "--setenv", "-M", "--machine", "-H", "--host",
                  "--description", "--slice", "--uid", "--gid", "--nice", "--working-directory"}},
    ValueOptions{"sudo", {"-u", "--user", "-g", "--group", "-C", "-D", "--chdir"}},
    ValueOptions{"pkexec", {"--user"}},
    ValueOptions{"doas", {"-u", "-C"}},
    ValueOptions{"python", {"-W", "-X", "--check-hash-based-pycs"}},
    ValueOptions{"pypy", {"-W", "-X"}},
    ValueOptions{"node", {"-r", "--require", "--import", "--loader"}},
    ValueOptions{"nodejs", {"-r", "--require", "--import", "--loader"}},
    ValueOptions{"ruby", {"-r", "-I", "-C"}},
    ValueOptions{"perl", {"-I", "-M", "-m"}},
    ValueOptions{"gjs", {"-I", "--include-path"}},
    ValueOptions{"lua", {"-l"}},
    ValueOptions{"java",
                 {"-cp", "-classpath", "--class-path", "-p", "--module-path", "--upgrade-module-path",
                  "--add-modules", "--add-opens", "--add-exports", "--add-reads", "--limit-modules",
                  "--patch-module", "--enable-native-access"}},
    ValueOptions{"flatpak",
                 {"--command", "--branch", "--arch", "--runtime", "--runtime-version", "--cwd", "--env",
                  "--filesystem", "--socket", "--device", "--share", "--unshare", "--talk-name", "--own-name",
                  "--system-talk-name", "--system-own-name", "--persist"}},
};

// Options after which there is no script: the code is given inline.
bool runsInlineCode(std::string_view wrapper, std::string_view option)
{
    if (wrapper == "python" || wrapper == "pypy") {
        return option == "-c";
    }
    if (wrapper == "perl" || wrapper == "ruby") {
        return option == "-e" || option == "-E";
    }
    if (wrapper == "node" || wrapper == "nodejs") {
        return option == "-e" || option == "--eval" || option == "-p" || option == "--print";
    }
    if (wrapper == "gjs" || wrapper == "lua" || wrapper == "luajit") {
        return option == "-c" || option == "-e";
    }
    if (wrapper == "php") {
        return option == "-r";
    }
    return false;
}

// "python3.11" → "python", "lua5.4" → "lua", "wish8.6" → "wish".
std::string_view familyName(std::string_view name)
{
    while (!name.empty() && ((name.back() >= '0' && name.back() <= '9') || name.back() == '.')) {
        name.remove_suffix(1);
    }
    return name;
}

WrapperKind wrapperKind(std::string_view baseName)
{
    const std::string_view family = familyName(baseName);
    for (const WrapperFamily& wrappers : kWrappers) {
        if (std::find(wrappers.names.begin(), wrappers.names.end(), family) != wrappers.names.end()) {
            return wrappers.kind;
        }
    }
    return WrapperKind::none;
}

bool takesValue(std::string_view wrapper, std::string_view option)
{
    for (const ValueOptions& entry : kValueOptions) {
        if (entry.wrapper == wrapper) {
            return std::find(entry.options.begin(), entry.options.end(), option) != entry.options.end();
        }
    }
    return false;
}

bool isOption(const std::string& argument)
{
    return argument.size() > 1 && argument.front() == '-';
}

bool isAssignment(const std::string& word)
{
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) {
        return false;
    }
    return std::all_of(word.begin(), word.begin() + static_cast<std::ptrdiff_t>(equals), [](char c) {
        return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

bool isShellControlWord(std::string_view word)
{
    return word == ";" || word == "&&" || word == "||" || word == "|" || word == "&";
}

// Shell built-ins and helpers that a command string often starts with before the real program.
bool isPreamble(std::string_view word)
{
    constexpr std::array kWords{"cd",     "export", "set",    "unset", "umask", "ulimit",
                                "source", ".",      ":",      "true",  "false", "test",
                                "[",      "echo",   "printf", "sleep", "trap",  "eval"};
    return std::find(kWords.begin(), kWords.end(), word) != kWords.end();
}

std::optional<LaunchTarget> resolve(std::vector<std::string> argv, int depth);

// sh -c 'cd /opt/app && exec ./app "$@"' → ./app
std::optional<LaunchTarget> resolveShellCommand(std::string_view command, int depth)
{
    const std::optional<std::vector<std::string>> words = splitCommandLine(command);
    if (!words) {
        return std::nullopt;
    }
    std::vector<std::string> current;
    auto finishCommand = [&]() -> std::optional<LaunchTarget> {
        std::size_t first = 0;
        while (first < current.size() && isAssignment(current[first])) {
            ++first;
        }
        std::vector<std::string> rest(current.begin() + static_cast<std::ptrdiff_t>(first), current.end());
        current.clear();
        if (rest.empty() || isPreamble(rest.front())) {
            return std::nullopt;
        }
        return resolve(std::move(rest), depth + 1);
    };
    for (std::string word : *words) {
        bool ends = isShellControlWord(word);
        if (!ends && word.size() > 1 && word.back() == ';') {
            word.pop_back();
            current.push_back(std::move(word));
            ends = true;
        } else if (!ends) {
            current.push_back(std::move(word));
        }
        if (ends) {
            if (std::optional<LaunchTarget> target = finishCommand()) {
                return target;
            }
        }
    }
    return finishCommand();
}

std::optional<LaunchTarget>
resolveRunner(std::string_view wrapper, const std::vector<std::string>& argv, int depth)
{
    std::size_t i = 1;
    bool positionalSkipped = false;
    const bool skipsPositional = wrapper == "timeout" || wrapper == "taskset" || wrapper == "chrt";
    while (i < argv.size()) {
        const std::string& argument = argv[i];
        if (argument == "--") {
            ++i;
            break;
        }
        if (wrapper == "env" && (argument == "-S" || argument == "--split-string")) {
            // env -S "prog args": the value is itself a command line.
            if (i + 1 >= argv.size()) {
                return std::nullopt;
            }
            std::optional<std::vector<std::string>> split = splitCommandLine(argv[i + 1]);
            if (!split) {
                return std::nullopt;
            }
            split->insert(split->end(), argv.begin() + static_cast<std::ptrdiff_t>(i) + 2, argv.end());
            return resolve(std::move(*split), depth + 1);
        }
        if (isOption(argument)) {
            i += takesValue(wrapper, argument) ? 2 : 1;
            continue;
        }
        if (wrapper == "env" && isAssignment(argument)) {
            ++i;
            continue;
        }
        if (skipsPositional && !positionalSkipped) {
            positionalSkipped = true;
            ++i;
            continue;
        }
        break;
    }
    if (i >= argv.size()) {
        return std::nullopt;
    }
    return resolve(std::vector<std::string>(argv.begin() + static_cast<std::ptrdiff_t>(i), argv.end()),
                   depth + 1);
}

std::optional<LaunchTarget> resolveShell(const std::vector<std::string>& argv, int depth)
{
    bool commandMode = false;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        const std::string& argument = argv[i];
        if (argument == "--") {
            if (i + 1 < argv.size() && !commandMode) {
                return LaunchTarget{argv[i + 1], true, {}};
            }
            continue;
        }
        if (argument == "-o" || argument == "+o" || argument == "--rcfile" || argument == "--init-file") {
            ++i;
            continue;
        }
        if (argument.size() > 1 && (argument.front() == '-' || argument.front() == '+')) {
            // Clustered short options such as -lc or -ec.
            if (argument.size() > 1 && argument[1] != '-' && argument.find('c') != std::string::npos) {
                commandMode = true;
            }
            continue;
        }
        if (commandMode) {
            return resolveShellCommand(argument, depth);
        }
        return LaunchTarget{argument, true, {}};
    }
    return std::nullopt;
}

std::optional<LaunchTarget> resolveInterpreter(std::string_view family, const std::vector<std::string>& argv)
{
    for (std::size_t i = 1; i < argv.size(); ++i) {
        const std::string& argument = argv[i];
        if (argument == "--") {
            return i + 1 < argv.size() ? std::optional(LaunchTarget{argv[i + 1], true, {}}) : std::nullopt;
        }
        if (runsInlineCode(family, argument)) {
            return std::nullopt;
        }
        if ((family == "python" || family == "pypy") && argument == "-m") {
            return i + 1 < argv.size() ? std::optional(LaunchTarget{argv[i + 1], true, {}}) : std::nullopt;
        }
        if (isOption(argument)) {
            i += takesValue(family, argument) ? 1 : 0;
            continue;
        }
        return LaunchTarget{argument, true, {}};
    }
    return std::nullopt;
}

std::optional<LaunchTarget> resolveJava(const std::vector<std::string>& argv)
{
    for (std::size_t i = 1; i < argv.size(); ++i) {
        const std::string& argument = argv[i];
        if (argument == "-jar" || argument == "-m" || argument == "--module") {
            if (i + 1 >= argv.size()) {
                return std::nullopt;
            }
            std::string target = argv[i + 1];
            if (argument != "-jar") {
                target = target.substr(0, target.find('/')); // module/main.Class
            }
            return LaunchTarget{target, true, {}};
        }
        if (isOption(argument)) {
            i += takesValue("java", argument) ? 1 : 0;
            continue;
        }
        return LaunchTarget{argument, true, {}}; // the main class
    }
    return std::nullopt;
}

std::optional<LaunchTarget> resolveFlatpak(const std::vector<std::string>& argv)
{
    if (argv.size() < 2 || argv[1] != "run") {
        return std::nullopt;
    }
    for (std::size_t i = 2; i < argv.size(); ++i) {
        const std::string& argument = argv[i];
        if (isOption(argument)) {
            i += takesValue("flatpak", argument) ? 1 : 0;
            continue;
        }
        // org.x.Y//stable or org.x.Y/x86_64/stable
        return LaunchTarget{{}, false, argument.substr(0, argument.find('/'))};
    }
    return std::nullopt;
}

std::optional<LaunchTarget> resolve(std::vector<std::string> argv, int depth)
{
    constexpr int kMaxDepth = 8;
    if (argv.empty() || argv.front().empty() || depth > kMaxDepth) {
        return std::nullopt;
    }
    const std::string_view name = baseName(argv.front());
    const std::string_view family = familyName(name);
    switch (wrapperKind(name)) {
    case WrapperKind::none:
        return LaunchTarget{argv.front(), false, {}};
    case WrapperKind::runner:
        return resolveRunner(family, argv, depth);
    case WrapperKind::shell:
        return resolveShell(argv, depth);
    case WrapperKind::interpreter:
        return resolveInterpreter(family, argv);
    case WrapperKind::java:
        return resolveJava(argv);
    case WrapperKind::flatpak:
        return resolveFlatpak(argv);
    case WrapperKind::opaque:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::string_view baseName(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool isWrapperProgram(std::string_view baseName)
{
    return wrapperKind(baseName) != WrapperKind::none;
}

std::optional<std::vector<std::string>> splitCommandLine(std::string_view line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            word.append(line.substr(i + 1, close - i - 1));
            i = close;
        } else if (c == '"') {
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                if (line[i] == '"') {
                    closed = true;
                    break;
                }
                if (line[i] == '\\' && i + 1 < line.size()
                    && (line[i + 1] == '"' || line[i + 1] == '`' || line[i + 1] == '$'
                        || line[i + 1] == '\\')) {
                    ++i;
                }
                word += line[i];
            }
            if (!closed) {
                return std::nullopt;
            }
        } else if (c == '\\') {
            if (i + 1 < line.size()) {
                word += line[++i];
            }
        } else {
            word += c;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::optional<LaunchTarget> resolveLaunchTarget(const std::vector<std::string>& argv)
{
    return resolve(argv, 0);
}

} // namespace exitwise::platform
