#pragma once
// A file of JSON lines that several threads append to: opened when the first line comes, one
// flushed line per record, so that a reader following the file only ever sees whole lines.

#include <QFile>
#include <mutex>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <string>

#include <lmxmaps/host/TString.h>

using JsonLineWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// A number JSON cannot hold (NaN, an infinity) is written as the text "NaN", "Infinity" or
// "-Infinity", the way protobuf's JSON form spells it.
void WriteJsonDouble(JsonLineWriter& writer, double value);

class JsonLinesFile {
public:
    explicit JsonLinesFile(const TString& path);
    JsonLinesFile(const JsonLinesFile&) = delete;
    JsonLinesFile& operator=(const JsonLinesFile&) = delete;

    // Appends the text and a line end. A file that cannot be opened or written is reported
    // once and then left alone: recording must never fail the work being recorded.
    void Append(const std::string& line);

private:
    bool OpenIfNeeded();
    void GiveUp(const TString& reason);

    std::mutex m_mutex;
    QFile m_file;
    bool m_unusable = false;
};
