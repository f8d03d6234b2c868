#pragma once

#include <QString>

#include <exception>

namespace murmelo {

// Every failure of the system is an exception derived from Error; its description is the
// user-facing Chinese text, the only text we ever show for it.
class Error : public std::exception {
public:
    ~Error() override = default;
    virtual QString description() const = 0;
    const char* what() const noexcept override;

    // Lets subclasses default their comparison; the cached what() text is no part of the value.
    bool operator==(const Error&) const { return true; }

private:
    mutable QByteArray m_what;
};

// A cancelled wait: the awaiting operation was abandoned on purpose.
class CancellationError final : public Error {
public:
    QString description() const override;
    bool operator==(const CancellationError&) const = default;
};

// Transport failures, with the URL-loading codes users and tests can rely on.
class NetworkError final : public Error {
public:
    enum Code : int {
        timedOut = -1001,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005,
        notConnectedToInternet = -1009,
        secureConnectionFailed = -1200,
        unknown = -1,
    };
    explicit NetworkError(int code, QString detail = {});
    int code() const { return m_code; }
    QString detail() const { return m_detail; }
    QString description() const override;
    bool operator==(const NetworkError& other) const { return m_code == other.m_code; }

private:
    int m_code;
    QString m_detail; // transport's own words; never contains keys or bodies
};

class JsonParseError final : public Error {
public:
    explicit JsonParseError(QString detail = {});
    QString detail() const { return m_detail; }
    QString description() const override;
    bool operator==(const JsonParseError&) const = default;

private:
    QString m_detail;
};

class FileError final : public Error {
public:
    enum class Case { read, write, createDirectory, remove };
    FileError(Case kind, QString path, QString detail = {});
    Case kind() const { return m_case; }
    QString path() const { return m_path; }
    QString description() const override;
    bool operator==(const FileError&) const = default;

private:
    Case m_case;
    QString m_path;
    QString m_detail;
};

} // namespace murmelo
