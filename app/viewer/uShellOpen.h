#pragma once
// Opens an address with the user's default handler (the browser, for a web address).
// Never fails towards its caller: a failure is written to standard error only.

#include <functional>
#include <string>

class QUrl;

void ShellOpen(const std::u16string& target);

// The text that goes with a failure code of the shell call; empty for codes without one.
[[nodiscard]] std::u16string ShellOpenFailureText(int code);

// Tests replace the handler so that no browser starts; it answers whether the address
// was opened. An empty function restores the default (QDesktopServices::openUrl).
void SetShellOpenHandler(std::function<bool(const QUrl&)> handler);
