#pragma once
// Output collected in pieces of 64 KiB before it goes to the stream: the dumps write
// several short pieces per row, and a stream call per piece would cost more than the
// formatting of the row.

#include <ostream>
#include <string>
#include <string_view>

class TDumpOutput {
public:
    explicit TDumpOutput(std::ostream& out) : FOut(out) { FBuffer.reserve(Capacity); }
    ~TDumpOutput() { Flush(); }
    TDumpOutput(const TDumpOutput&) = delete;
    TDumpOutput& operator=(const TDumpOutput&) = delete;

    void Append(std::string_view text)
    {
        FBuffer.append(text);
        if (FBuffer.size() >= Capacity)
            Flush();
    }
    void Append(char c)
    {
        FBuffer.push_back(c);
        if (FBuffer.size() >= Capacity)
            Flush();
    }
    void Append(size_t count, char c)
    {
        FBuffer.append(count, c);
        if (FBuffer.size() >= Capacity)
            Flush();
    }

    // Hands what was collected to the stream. A stream that has failed takes nothing
    // more: the caller learns of the failure from the stream's state.
    void Flush()
    {
        if (!FBuffer.empty() && FOut)
            FOut.write(FBuffer.data(), static_cast<std::streamsize>(FBuffer.size()));
        FBuffer.clear();
    }

private:
    static constexpr size_t Capacity = 65536;
    std::ostream& FOut;
    std::string FBuffer;
};
