// Points TMP and TEMP at a fresh directory for the lifetime of the object, so
// that tests never touch a real user's settings file.
#ifndef QUILLON_ISOLATED_TEMP_DIRECTORY_H
#define QUILLON_ISOLATED_TEMP_DIRECTORY_H

#include <string>
#include <vector>

class IsolatedTempDirectory {
  public:
    IsolatedTempDirectory();
    // Deletes the files left in the directory, the directory itself, and
    // restores TMP and TEMP.
    ~IsolatedTempDirectory();
    IsolatedTempDirectory(const IsolatedTempDirectory&) = delete;
    IsolatedTempDirectory& operator=(const IsolatedTempDirectory&) = delete;

    // The directory, ending with a separator, as GetTempPathA now reports it.
    const std::string& Path() const { return m_Path; }
    // Names of the files now in the directory.
    std::vector<std::string> FileNames() const;

  private:
    std::string m_Path;
    std::string m_OldTmp;
    std::string m_OldTemp;
    bool m_HadTmp = false;
    bool m_HadTemp = false;
};

// The whole contents of a file, or nothing when it cannot be read.
std::vector<unsigned char> ReadWholeFile(const std::string& path);
// Replaces a file with the given bytes; false when it cannot be written.
bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);

#endif
