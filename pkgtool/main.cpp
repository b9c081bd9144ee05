// pkgtool's entry point: the arguments as UTF-8, the results on stdout.

#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "text/Codepage.h"

namespace {

// The console's output code page for this run, the one it had given back
// when the run ends: the console outlives pkgtool, and the programs run in
// it after pkgtool expect their own code page (an OEM one, as a rule).
class TConsoleCodePage {
public:
    explicit TConsoleCodePage(UINT page) : before_(GetConsoleOutputCP()) { SetConsoleOutputCP(page); }
    ~TConsoleCodePage() {
        if (before_ != 0) SetConsoleOutputCP(before_);
    }
    TConsoleCodePage(const TConsoleCodePage&) = delete;
    TConsoleCodePage& operator=(const TConsoleCodePage&) = delete;

private:
    UINT before_;  // 0: no console
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(text::Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(argv[i]))));
    // UTF-8 on the console; stdout in binary mode so that --xml gives the
    // document's bytes unchanged, and stderr too, so that both end their
    // lines alike ("\n").
    const TConsoleCodePage utf8(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const int status = pkgtool::RunPkgtool(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    const int status = pkgtool::RunPkgtool(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
#endif
