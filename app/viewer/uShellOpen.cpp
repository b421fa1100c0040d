#include "uShellOpen.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <cstdio>
#include <map>

namespace {

std::function<bool(const QUrl&)>& Handler()
{
    static std::function<bool(const QUrl&)> handler;
    return handler;
}

// The only failure the desktop services report is "could not open", which stands
// closest to the shell's "no application associated" code.
constexpr int NoAssociation = 31;

}  // namespace

std::u16string ShellOpenFailureText(int code)
{
    static const std::map<int, std::u16string> texts = {
        {0, u"The operating system is out of memory or resources."},
        {2, u"The specified file was not found."},
        {3, u"The specified path was not found."},
        {5, u"The operating system denied access to the specified file."},
        {8, u"There was not enough memory to complete the operation."},
        {11, u"The .exe file is invalid (non-Microsoft Win32 .exe or error in .exe image)."},
        {26, u"A sharing violation occurred."},
        {27, u"The file name association is incomplete or invalid."},
        {28, u"The DDE transaction could not be completed because the request timed out."},
        {29, u"The DDE transaction failed."},
        {30, u"The Dynamic Data Exchange (DDE) transaction could not be completed because other DDE "
             u"transactions were being processed."},
        {31, u"There is no application associated with the given file name extension. This error will "
             u"also be returned if you attempt to print a file that is not printable."},
        {32, u"The specified dynamic-link library (DLL) was not found."},
    };
    auto it = texts.find(code);
    return it == texts.end() ? std::u16string() : it->second;
}

void SetShellOpenHandler(std::function<bool(const QUrl&)> handler)
{
    Handler() = std::move(handler);
}

void ShellOpen(const std::u16string& target)
{
    const QString text = QString::fromUtf16(target.data(), static_cast<qsizetype>(target.size()));
    const QUrl url = QUrl::fromUserInput(text);
    const bool opened = Handler() ? Handler()(url) : QDesktopServices::openUrl(url);
    if (!opened) {
        const std::u16string reason = ShellOpenFailureText(NoAssociation);
        std::fprintf(
            stderr, "%s: %s\n", text.toUtf8().constData(),
            QString::fromUtf16(reason.data(), static_cast<qsizetype>(reason.size())).toUtf8().constData());
    }
}
