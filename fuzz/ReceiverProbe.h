#pragma once

#include <QHash>
#include <QString>
#include <google/protobuf/message.h>
#include <google/protobuf/repeated_field.h>
#include <string>
#include <type_traits>

// Stands in for the receivers of a link's delegate calls and signals: counts every call and reads
// every byte of every argument, as a receiver that copies what it gets would, so that an
// argument referring into freed or foreign memory shows.
class ReceiverProbe
{
public:
    int calls() const { return m_calls; }

    void called() { ++m_calls; }

    template <typename... Args> void called(const Args&... args)
    {
        ++m_calls;
        (read(args), ...);
    }

private:
    void read(const google::protobuf::Message& message)
    {
        m_digest ^= qHash(QByteArray::fromStdString(message.SerializePartialAsString()));
    }
    template <typename T> void read(const google::protobuf::RepeatedPtrField<T>& list)
    {
        for (const T& element : list) {
            read(element);
        }
    }
    void read(const std::string& text) { m_digest ^= qHash(QByteArray::fromStdString(text)); }
    void read(const QString& text) { m_digest ^= qHash(text); }
    template <typename Scalar,
              typename = std::enable_if_t<std::is_arithmetic_v<Scalar> || std::is_enum_v<Scalar>>>
    void read(Scalar value)
    {
        m_digest ^= size_t(value);
    }

    int m_calls = 0;
    size_t m_digest = 0;
};
