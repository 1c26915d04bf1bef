#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

// Streamed file access for the updater's large files (downloads, unpacked databases, digests), which must
// never be held whole in memory. Paths are full Windows paths, resolved through the platform.

// Reads a file from its start in pieces.
class TFileReader {
public:
    // False when the file does not exist, is a folder or cannot be opened for reading.
    bool Open(const std::string& path);
    // Up to Size bytes into Buffer; 0 at the end of the file or after a read error (see Failed).
    size_t Read(void* buffer, size_t size);
    bool Failed() const;

private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> FFile{nullptr, std::fclose};
};

// Writes a new file beside Target under a temporary name and puts it in Target's place only when Commit
// succeeds, so that a failed or abandoned write leaves an older Target as it was. An uncommitted file is
// removed when the writer goes, and Open removes those of writers to Target that died before their commit.
class TFileReplacer {
public:
    TFileReplacer() = default;
    ~TFileReplacer();
    TFileReplacer(const TFileReplacer&) = delete;
    TFileReplacer& operator=(const TFileReplacer&) = delete;

    // False when Target's folder does not exist or cannot be written.
    bool Open(const std::string& target);
    bool Write(const void* data, size_t size);
    // The same writes as a stream, for writers that take one (an HTTP transfer); a failed write sets its
    // bad bit and fails Commit.
    std::ostream& Stream() { return FStream; }
    // Closes the new file and renames it over Target; false (Target untouched) when a write or the close
    // failed.
    bool Commit();
    // Drops the new file now.
    void Abandon();

private:
    class TBuffer : public std::streambuf {
    public:
        explicit TBuffer(TFileReplacer& owner) : FOwner(owner) {}

    protected:
        std::streamsize xsputn(const char* data, std::streamsize count) override {
            return FOwner.Write(data, static_cast<size_t>(count)) ? count : 0;
        }
        int_type overflow(int_type c) override {
            char byte = traits_type::to_char_type(c);
            return traits_type::eq_int_type(c, traits_type::eof()) || FOwner.Write(&byte, 1)
                       ? traits_type::not_eof(c)
                       : traits_type::eof();
        }

    private:
        TFileReplacer& FOwner;
    };

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> FFile{nullptr, std::fclose};
    TBuffer FBuffer{*this};
    std::ostream FStream{&FBuffer};
    std::string FTemporary;
    std::string FTarget;
    bool FFailed = false;
};
