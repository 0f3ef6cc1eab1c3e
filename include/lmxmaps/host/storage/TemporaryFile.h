#pragma once
// A uniquely named file in the system's temporary directory, removed when this object goes
// unless Keep() was called (a bad server reply kept for diagnosis).

#include <lmxmaps/host/TString.h>

class TemporaryFile {
public:
    // Creates the (empty) file; throws LumivexException when the directory is not writable.
    explicit TemporaryFile(const TString& nameTemplate = QStringLiteral("lmxmaps-XXXXXX"));
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const TString& GetPath() const { return m_path; }
    void Keep() { m_keep = true; }

private:
    TString m_path;
    bool m_keep = false;
};
