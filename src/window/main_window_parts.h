#pragma once

#include <QString>
#include <string>

// Small helpers shared by the files that make up the main window.
namespace kestrune {

std::string Utf8(const QString& s);
QString FromUtf8(const std::string& s);
QString WithSlash(QString folder);
// The status line of a finished import or export: the message and a count.
QString StatusFor(const char* key, int count);

}  // namespace kestrune
