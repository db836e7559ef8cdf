// Bounded packet writer and reader over a caller's buffer.
//
// Every camera protocol builds and parses its packets with these two. Neither ever touches a
// byte outside [buffer, buffer + capacity/length): an operation that would pass the end throws
// CParserException and leaves the buffer and the position as they were. Parsers rely on that
// throw for every length check they do not make themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Thrown by value when a read or write would pass the end; carries nothing.
class CParserException {};

class CPacketWriter {
public:
    CPacketWriter(void* pBuffer, std::size_t nCapacity);

    // Raw appends: the bytes (or words) are copied as they are in memory.
    void Write(const void* pData, std::size_t nBytes);
    void WriteWords16(const std::uint16_t* pWords, std::size_t nCount);
    void WriteWords32(const std::uint32_t* pWords, std::size_t nCount);

    void WriteUInt8(std::uint8_t byValue);
    // Network order (big-endian), the wire's default.
    void WriteUInt16(std::uint16_t usValue);
    void WriteUInt32(std::uint32_t dwValue);
    // Least significant byte first, for the few fields that travel so (the camera id).
    void WriteUInt16LE(std::uint16_t usValue);
    void WriteUInt32LE(std::uint32_t dwValue);
    void WriteZeros(std::size_t nBytes);
    // Fixed-width text field: at most nField bytes of the text, the rest zero. A text that
    // fills the field is not zero-ended, as on the wire.
    void WriteFixedString(const std::string& str, std::size_t nField);

    // Overwrites a big-endian word at an offset already written (the total-length field).
    void PatchUInt16(std::size_t nOffset, std::uint16_t usValue);

    std::uint8_t* GetBuffer() const { return m_pBuffer; }
    std::size_t GetCapacity() const { return m_nCapacity; }
    std::size_t GetPosition() const { return m_nPosition; }
    std::size_t GetRemaining() const { return m_nCapacity - m_nPosition; }

private:
    std::uint8_t* Reserve(std::size_t nBytes);

    std::uint8_t* m_pBuffer;
    std::size_t m_nCapacity;
    std::size_t m_nPosition = 0;
};

class CPacketReader {
public:
    CPacketReader(const void* pData, std::size_t nLength);

    void Read(void* pOut, std::size_t nBytes);
    void Skip(std::size_t nBytes);
    // Pointer to the next nBytes, which are consumed; valid as long as the caller's buffer.
    const std::uint8_t* ReadSpan(std::size_t nBytes);

    std::uint8_t ReadUInt8();
    // Network order (big-endian).
    std::uint16_t ReadUInt16();
    std::uint32_t ReadUInt32();
    // Least significant byte first.
    std::uint16_t ReadUInt16LE();
    std::uint32_t ReadUInt32LE();
    // Fixed-width text field: consumes nField bytes, returns the text up to the first zero
    // (all nField bytes when there is none).
    std::string ReadFixedString(std::size_t nField);

    const std::uint8_t* GetData() const { return m_pData; }
    const std::uint8_t* GetCurrent() const { return m_pData + m_nPosition; }
    std::size_t GetLength() const { return m_nLength; }
    std::size_t GetPosition() const { return m_nPosition; }
    std::size_t GetRemaining() const { return m_nLength - m_nPosition; }
    void SetPosition(std::size_t nPosition);

private:
    const std::uint8_t* Take(std::size_t nBytes);

    const std::uint8_t* m_pData;
    std::size_t m_nLength;
    std::size_t m_nPosition = 0;
};
