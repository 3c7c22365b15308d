#pragma once

#include <QString>

#include <exception>

// Base of the project's error values: each carries a fixed, user-facing description.
class Error : public std::exception
{
public:
    virtual QString description() const = 0;
    const char *what() const noexcept override;

private:
    mutable QByteArray m_what;
};

// A file-system call that failed; the description is the system's own text.
class FileError : public Error
{
public:
    FileError(int errorNumber, const QString &path);
    static FileError fromErrno(const QString &path);

    int errorNumber() const { return m_errorNumber; }
    QString path() const { return m_path; }
    QString description() const override;

private:
    int m_errorNumber;
    QString m_path;
};

// Exchanged data that is not in the expected JSON form; the description is the decoder's
// own text (the parser's message, or the key path that is missing or of the wrong type).
class DecodingError : public Error
{
public:
    explicit DecodingError(const QString &message);

    QString description() const override;

private:
    QString m_message;
};
