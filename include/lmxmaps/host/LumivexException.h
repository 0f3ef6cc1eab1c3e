#pragma once
// The exception root of the host and its error records.
//
// Each place that throws identifies itself by a 32-bit id, unique per site, and a log-site name
// built from it: "<class>_AutoGen_0x<ID>" for exceptions (e.g.
// MapProviderException_AutoGen_0xF158430A), "LogicException_LogicAssert_0x<ID>" for
// assertions, "LogSite_<name>_0x<ID>" for named warnings; <ID> is 8 upper-case hex digits.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include <lmxmaps/host/TString.h>

namespace TError {

struct ErrorInfo {
    TString logSite;
    std::uint32_t id = 0;

    bool operator==(const ErrorInfo&) const = default;
};

// "<exceptionClass>_AutoGen_0x<ID>"
ErrorInfo AutoGen(const TString& exceptionClass, std::uint32_t id);
// "LogicException_LogicAssert_0x<ID>"
ErrorInfo LogicAssert(std::uint32_t id);
// "LogSite_<name>_0x<ID>"
ErrorInfo LogSite(const TString& name, std::uint32_t id);

} // namespace TError

class LumivexException : public std::exception {
public:
    LumivexException(TString message, TError::ErrorInfo errorInfo);
    ~LumivexException() override;

    // A heap copy of the most derived exception.
    virtual std::unique_ptr<LumivexException> Clone() const;
    // Throws a copy of the most derived exception.
    [[noreturn]] virtual void Throw() const;

    const TString& GetMessage() const { return m_message; }
    // Puts context in front of the message ("Could not connect. <message>"), keeping the
    // exception's type and error record.
    void PrependMessage(const TString& context);
    const TError::ErrorInfo& GetErrorInfo() const { return m_errorInfo; }
    const char* what() const noexcept override { return m_utf8Message.c_str(); }

protected:
    void SetMessage(TString message);

private:
    TString m_message;
    TError::ErrorInfo m_errorInfo;
    std::string m_utf8Message;
};

// Thrown when code finds its own invariant broken; records where (file, line) and the
// condition text.
class LogicException : public LumivexException {
public:
    LogicException(const char* file, int line, const char* condition, TError::ErrorInfo info);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;

    const std::string& GetFile() const { return m_file; }
    int GetLine() const { return m_line; }
    const std::string& GetCondition() const { return m_condition; }

private:
    std::string m_file;
    int m_line;
    std::string m_condition;
};

[[noreturn]] void ThrowLogicException(const char* file, int line, const char* condition,
                                      TError::ErrorInfo info);

// Id used by assertions whose site has no id of its own.
inline constexpr std::uint32_t kUnnumberedAssertId = 0;

// Raises LogicException with the condition text when cond is false.
#define LMX_LOGIC_ASSERT_ID(cond, id)                                                              \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            ::ThrowLogicException(__FILE__, __LINE__, #cond, ::TError::LogicAssert(id));           \
        }                                                                                          \
    } while (false)

#define LMX_LOGIC_ASSERT(cond) LMX_LOGIC_ASSERT_ID(cond, ::kUnnumberedAssertId)
