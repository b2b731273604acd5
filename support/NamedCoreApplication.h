#pragma once
// A core application for reading a program's command line before any window exists (so that
// --help and --version need no display): the parser wants an application object, and this one
// calls itself by the program's installed name in usage lines, whatever its file is called.
// Main thread; lives only while the command line is read.

#include <QCoreApplication>
#include <memory>
#include <string>
#include <vector>

class TNamedCoreApplication {
  public:
    TNamedCoreApplication(int argc, char** argv, const char* name);
    ~TNamedCoreApplication();
    TNamedCoreApplication(const TNamedCoreApplication&) = delete;
    TNamedCoreApplication& operator=(const TNamedCoreApplication&) = delete;

  private:
    std::string FName;
    std::vector<char*> FArguments;  // argv with the name first; must outlive the application
    int FCount;
    std::unique_ptr<QCoreApplication> FApplication;
};
