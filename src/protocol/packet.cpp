#include "protocol/packet.h"

#include <algorithm>
#include <cstring>

CPacketWriter::CPacketWriter(void* pBuffer, std::size_t nCapacity)
    : m_pBuffer(static_cast<std::uint8_t*>(pBuffer)), m_nCapacity(pBuffer ? nCapacity : 0)
{
}

std::uint8_t* CPacketWriter::Reserve(std::size_t nBytes)
{
    // Compared against what is left, so a huge count cannot wrap the sum.
    if (nBytes > m_nCapacity - m_nPosition)
        throw CParserException();
    std::uint8_t* p = m_pBuffer + m_nPosition;
    m_nPosition += nBytes;
    return p;
}

void CPacketWriter::Write(const void* pData, std::size_t nBytes)
{
    if (nBytes == 0)
        return;
    std::memcpy(Reserve(nBytes), pData, nBytes);
}

void CPacketWriter::WriteWords16(const std::uint16_t* pWords, std::size_t nCount)
{
    if (nCount > (m_nCapacity - m_nPosition) / sizeof(std::uint16_t))
        throw CParserException();
    Write(pWords, nCount * sizeof(std::uint16_t));
}

void CPacketWriter::WriteWords32(const std::uint32_t* pWords, std::size_t nCount)
{
    if (nCount > (m_nCapacity - m_nPosition) / sizeof(std::uint32_t))
        throw CParserException();
    Write(pWords, nCount * sizeof(std::uint32_t));
}

void CPacketWriter::WriteUInt8(std::uint8_t byValue)
{
    *Reserve(1) = byValue;
}

void CPacketWriter::WriteUInt16(std::uint16_t usValue)
{
    std::uint8_t* p = Reserve(2);
    p[0] = static_cast<std::uint8_t>(usValue >> 8);
    p[1] = static_cast<std::uint8_t>(usValue);
}

void CPacketWriter::WriteUInt32(std::uint32_t dwValue)
{
    std::uint8_t* p = Reserve(4);
    p[0] = static_cast<std::uint8_t>(dwValue >> 24);
    p[1] = static_cast<std::uint8_t>(dwValue >> 16);
    p[2] = static_cast<std::uint8_t>(dwValue >> 8);
    p[3] = static_cast<std::uint8_t>(dwValue);
}

void CPacketWriter::WriteUInt16LE(std::uint16_t usValue)
{
    std::uint8_t* p = Reserve(2);
    p[0] = static_cast<std::uint8_t>(usValue);
    p[1] = static_cast<std::uint8_t>(usValue >> 8);
}

void CPacketWriter::WriteUInt32LE(std::uint32_t dwValue)
{
    std::uint8_t* p = Reserve(4);
    p[0] = static_cast<std::uint8_t>(dwValue);
    p[1] = static_cast<std::uint8_t>(dwValue >> 8);
    p[2] = static_cast<std::uint8_t>(dwValue >> 16);
    p[3] = static_cast<std::uint8_t>(dwValue >> 24);
}

void CPacketWriter::WriteZeros(std::size_t nBytes)
{
    if (nBytes == 0)
        return;
    std::memset(Reserve(nBytes), 0, nBytes);
}

void CPacketWriter::WriteFixedString(const std::string& str, std::size_t nField)
{
    std::uint8_t* p = Reserve(nField);
    const std::size_t nCopy = str.size() < nField ? str.size() : nField;
    // A full field carries no terminator; that is the wire's format.
    std::copy_n(str.data(), nCopy, p);
    if (nField > nCopy)
        std::memset(p + nCopy, 0, nField - nCopy);
}

void CPacketWriter::PatchUInt16(std::size_t nOffset, std::uint16_t usValue)
{
    if (nOffset > m_nPosition || m_nPosition - nOffset < 2)
        throw CParserException();
    m_pBuffer[nOffset] = static_cast<std::uint8_t>(usValue >> 8);
    m_pBuffer[nOffset + 1] = static_cast<std::uint8_t>(usValue);
}

CPacketReader::CPacketReader(const void* pData, std::size_t nLength)
    : m_pData(static_cast<const std::uint8_t*>(pData)), m_nLength(pData ? nLength : 0)
{
}

const std::uint8_t* CPacketReader::Take(std::size_t nBytes)
{
    if (nBytes > m_nLength - m_nPosition)
        throw CParserException();
    const std::uint8_t* p = m_pData + m_nPosition;
    m_nPosition += nBytes;
    return p;
}

void CPacketReader::Read(void* pOut, std::size_t nBytes)
{
    const std::uint8_t* p = Take(nBytes);
    if (nBytes)
        std::memcpy(pOut, p, nBytes);
}

void CPacketReader::Skip(std::size_t nBytes)
{
    Take(nBytes);
}

const std::uint8_t* CPacketReader::ReadSpan(std::size_t nBytes)
{
    return Take(nBytes);
}

std::uint8_t CPacketReader::ReadUInt8()
{
    return *Take(1);
}

std::uint16_t CPacketReader::ReadUInt16()
{
    const std::uint8_t* p = Take(2);
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t CPacketReader::ReadUInt32()
{
    const std::uint8_t* p = Take(4);
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

std::uint16_t CPacketReader::ReadUInt16LE()
{
    const std::uint8_t* p = Take(2);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t CPacketReader::ReadUInt32LE()
{
    const std::uint8_t* p = Take(4);
    return p[0] | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

std::string CPacketReader::ReadFixedString(std::size_t nField)
{
    const std::uint8_t* p = Take(nField);
    const void* pZero = nField ? std::memchr(p, 0, nField) : nullptr;
    const std::size_t nText = pZero ? static_cast<const std::uint8_t*>(pZero) - p : nField;
    return std::string(reinterpret_cast<const char*>(p), nText);
}

void CPacketReader::SetPosition(std::size_t nPosition)
{
    if (nPosition > m_nLength)
        throw CParserException();
    m_nPosition = nPosition;
}
