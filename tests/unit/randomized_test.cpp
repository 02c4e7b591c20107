// Seeded, bounded random inputs against simple reference models: the command
// line walk, the ASCII escaping, the log formatter and the log's bytes.
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "setup/installer.h"
#include "setup/logformat.h"
#include "setup/setup.h"
#include "tests/sim/simulated_machine.h"

namespace {

constexpr unsigned kSeed = 20261207;
constexpr int kRounds = 2000;

std::wstring RandomUnits(std::mt19937& random, size_t maxLength) {
    std::uniform_int_distribution<size_t> length(0, maxLength);
    std::uniform_int_distribution<int> kind(0, 5);
    std::wstring text;
    for (size_t i = length(random); i > 0; --i) {
        switch (kind(random)) {
            case 0:
            case 1:
                text += static_cast<wchar_t>(std::uniform_int_distribution<int>(0x20, 0x7E)(random));
                break;
            case 2:
                text += static_cast<wchar_t>(std::uniform_int_distribution<int>(0x01, 0xFF)(random));
                break;
            case 3:
                text += static_cast<wchar_t>(std::uniform_int_distribution<int>(0x100, 0xD7FF)(random));
                break;
            case 4:
                text += static_cast<wchar_t>(std::uniform_int_distribution<int>(0xD800, 0xDFFF)(random));
                break;
            default:
                text += static_cast<wchar_t>(std::uniform_int_distribution<int>(0xE000, 0xFFFF)(random));
                break;
        }
    }
    return text;
}

// The reference: every unit as its own ASCII piece.
std::vector<std::string> AsciiPieces(const std::wstring& text) {
    std::vector<std::string> pieces;
    for (wchar_t unit : text) {
        if (unit <= 0x7F) {
            pieces.emplace_back(1, static_cast<char>(unit));
        } else {
            char escape[8];
            snprintf(escape, sizeof escape, "\\U%04X", static_cast<unsigned>(unit));
            pieces.emplace_back(escape);
        }
    }
    return pieces;
}

}  // namespace

TEST(Randomized, WideToAsciiAgreesWithItsModel) {
    std::mt19937 random(kSeed);
    for (int round = 0; round < kRounds; ++round) {
        std::wstring text = RandomUnits(random, 40);
        std::vector<std::string> pieces = AsciiPieces(text);
        std::string whole;
        for (const std::string& piece : pieces) {
            whole += piece;
        }
        bool terminate = random() % 2 == 0;
        ASSERT_EQ(WideToAscii(text.c_str(), nullptr, 0, terminate),
                  static_cast<int32_t>(whole.size() + (terminate ? 1 : 0)));
        ASSERT_EQ(WideToAsciiString(text.c_str()), whole);

        // Into a buffer of random size, guarded on both sides.
        int32_t size =
            std::uniform_int_distribution<int32_t>(0, static_cast<int32_t>(whole.size()) + 8)(random);
        std::string expected;
        for (const std::string& piece : pieces) {
            size_t room = static_cast<size_t>(size) - (terminate ? 1 : 0);
            if (size == 0 || expected.size() + piece.size() > room) {
                break;
            }
            expected += piece;
        }
        if (terminate && size > 0) {
            expected += '\0';
        }
        if (!terminate && expected.size() == static_cast<size_t>(size) && expected.size() < whole.size()) {
            continue;  // filling the buffer while input remains is the caller's error
        }
        std::vector<char> buffer(static_cast<size_t>(size) + 8, '#');
        int32_t written = WideToAscii(text.c_str(), buffer.data() + 4, size, terminate);
        ASSERT_EQ(written, static_cast<int32_t>(expected.size())) << round;
        ASSERT_EQ(std::string(buffer.data() + 4, expected.size()), expected) << round;
        ASSERT_EQ(std::string(buffer.data(), 4), "####");
        ASSERT_EQ(std::string(buffer.data() + 4 + size, 4), "####");
    }
    std::cout << kRounds << " random texts escaped\n";
}

TEST(Randomized, TheLogFormatterAndTheLogBytesAgreeWithTheirModels) {
    std::mt19937 random(kSeed + 1);
    const wchar_t* const kLiterals[] = {L"Copied ",      L"file '", L"' to '", L".", L"code ",
                                        L"\u00C4\u20AC", L"\n",     L"\r\n",   L"x", L"Error: "};
    for (int round = 0; round < kRounds; ++round) {
        std::wstring format;
        std::wstring expected;
        std::vector<std::wstring> texts;
        texts.reserve(16);
        std::vector<LogArg> args;
        for (int token = std::uniform_int_distribution<int>(0, 12)(random); token > 0; --token) {
            switch (std::uniform_int_distribution<int>(0, 6)(random)) {
                case 0: {
                    const wchar_t* literal = kLiterals[random() % std::size(kLiterals)];
                    format += literal;
                    expected += literal;
                    break;
                }
                case 1:
                case 2: {
                    texts.push_back(RandomUnits(random, 12));  // may hold "%" and "%s" as text
                    format += random() % 2 ? L"%s" : L"%ws";
                    expected += texts.back();
                    args.emplace_back(texts.back());
                    break;
                }
                case 3: {
                    int32_t number = static_cast<int32_t>(random());
                    format += L"%d";
                    expected += std::to_wstring(number);
                    args.emplace_back(number);
                    break;
                }
                case 4:
                    format += L"%%";
                    expected += L"%";
                    break;
                default:
                    format += L"% ";  // a lone percent sign stays as it is
                    expected += L"% ";
                    break;
            }
        }
        ASSERT_EQ(FormatLogMessage(format.c_str(), args.data(), args.size()), expected) << round;

        std::string bytes;
        for (wchar_t unit : expected) {
            bytes += unit == L'\n' ? std::string("\r\n")
                                   : std::string(1, unit > 0xFF ? '?' : static_cast<char>(unit));
        }
        ASSERT_EQ(ToLogBytes(expected), bytes) << round;
    }
    std::cout << kRounds << " random formats filled\n";
}

TEST(Randomized, TheCommandLineWalkAgreesWithItsModel) {
    SimulatedMachine machine;
    std::mt19937 random(kSeed + 2);
    const char* const kWords[] = {"/install",  "/UNINSTALL",   "/Install",   "/uninstall",
                                  "prevista",  "VistaOrLater", "STANDALONE", "bundled",
                                  "/log",      "/LOG",         "/Log",       "/installx",
                                  "-install",  "install",      "",           "C:\\x y\\log.txt",
                                  "\xE9t\xE9", "/log=x",       "PREVISTA "};
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::string> args{"setup.exe"};
        for (int count = std::uniform_int_distribution<int>(0, 8)(random); count > 0; --count) {
            args.push_back(kWords[random() % std::size(kWords)]);
        }
        // The model: lower-case ASCII, whole-word matches, last one wins,
        // "/log" takes the next argument.
        SetupOptions model;
        for (size_t i = 1; i < args.size(); ++i) {
            std::string word = args[i];
            for (char& c : word) {
                c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            }
            if (word == "/uninstall") {
                model.mode = SetupMode::Uninstall;
            } else if (word == "/install") {
                model.mode = SetupMode::Install;
            } else if (word == "prevista") {
                model.osFamily = OsFamily::PreVista;
            } else if (word == "vistaorlater") {
                model.osFamily = OsFamily::VistaOrLater;
            } else if (word == "standalone") {
                model.standalone = true;
            } else if (word == "bundled") {
                model.standalone = false;
            } else if (word == "/log" && i + 1 < args.size()) {
                ++i;
                wchar_t converted[64];
                int units = ::MultiByteToWideChar(CP_ACP, 0, args[i].c_str(), -1, converted, 64);
                model.logPath.assign(converted, units > 0 ? units - 1 : 0);
            }
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(&arg[0]);
        }
        argv.push_back(nullptr);
        SetupOptions options = ParseCommandLine(static_cast<int>(args.size()), argv.data());
        ASSERT_EQ(options.mode, model.mode) << round;
        ASSERT_EQ(options.osFamily, model.osFamily) << round;
        ASSERT_EQ(options.standalone, model.standalone) << round;
        ASSERT_EQ(options.logPath, model.logPath) << round;
    }
    std::cout << kRounds << " random command lines walked\n";
}
