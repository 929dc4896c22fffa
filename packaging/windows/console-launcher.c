/* SPDX-License-Identifier: GPL-2.0-or-later */
/* zolt-converter.com, the converter's face for a console.
 *
 * zolt-converter.exe is a window program, so that the Start Menu opens no
 * console beside it. cmd.exe and PowerShell neither wait for a window program
 * nor pass on its exit code; they do both for a console program, and for
 * "zolt-converter" they take zolt-converter.com before zolt-converter.exe.
 * This console program runs the .exe beside it with the same command line
 * and the same standard input, output and error, waits for it and ends with
 * its exit code: `zolt-converter --export log.csv` in a console behaves as
 * documented, exit status included. */
#include <windows.h>
#include <wchar.h>

static const wchar_t* afterProgramName(const wchar_t* line) {
    /* The first argument as CommandLineToArgvW reads it: quoted, or up to a blank. */
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    return line;
}

int main(void) {
    static wchar_t program[32768];
    DWORD length = GetModuleFileNameW(NULL, program, 32768 - 8);
    if (length == 0 || length >= 32768 - 8) return 1;
    wchar_t* dot = wcsrchr(program, L'.');
    if (!dot) dot = program + length;
    wcscpy(dot, L".exe");

    const wchar_t* rest = afterProgramName(GetCommandLineW());
    const size_t size = wcslen(program) + wcslen(rest) + 4;
    wchar_t* line = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, size * sizeof(wchar_t));
    if (!line) return 1;
    wcscpy(line, L"\"");
    wcscat(line, program);
    wcscat(line, L"\"");
    wcscat(line, rest);

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    if (!CreateProcessW(program, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        return 1;
    }
    /* Ctrl+C reaches the converter too, which shares the console; this one
     * waits for it to end rather than ending first. */
    SetConsoleCtrlHandler(NULL, TRUE);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
