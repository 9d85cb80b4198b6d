#pragma once
// Builds small Mach-O images in the test's own memory: 32- or 64-bit, in the host's byte order or
// swapped, with a __TEXT segment and its sections, LC_UUID, a symbol table with its strings in
// __LINKEDIT, a data segment whose section contents a test writes after placing the image (they hold
// the image's own addresses), and any odd load command a test needs; `unwindInfo` lays out the bytes of an
// __unwind_info section. The image is laid out as loaded: file offsets
// equal offsets from the header, and the header sits at `headerAddress()`.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dyld/loader.h"

class MachOFixture {
  public:
    struct Symbol {
        std::string name;
        uint64_t value;  // unslid address
        uint8_t type = N_SECT | N_EXT;
        uint8_t sect = 1;
        uint16_t desc = 0;
    };
    struct Section {
        std::string name;
        std::vector<uint8_t> bytes;
    };
    struct RawCommand {
        uint32_t cmd;
        uint32_t cmdsize;         // as written; the bytes that follow the head fill max(cmdsize, 8)
        bool beforeText = false;  // else right after the __TEXT segment
    };
    // One second-level page of __unwind_info. Regular entries are (function offset, encoding);
    // compressed ones (offset from the page's function offset, encoding index).
    struct UnwindPage {
        uint32_t functionOffset = 0;
        bool compressed = false;
        std::vector<std::pair<uint32_t, uint32_t>> entries;
        std::vector<uint32_t> pageEncodings;  // compressed only
        std::optional<uint32_t> kind;         // overrides the kind the flag above gives
    };
    struct UnwindInfo {
        uint32_t version = 1;
        std::vector<uint32_t> commonEncodings;
        std::vector<UnwindPage> pages;
        uint32_t endOffset = 0xffffff;  // the first level's end sentinel
    };
    struct Dysymtab {
        uint32_t ilocalsym, nlocalsym, iextdefsym, nextdefsym;
    };

    bool is64 = true;
    bool swapped = false;
    std::optional<uint32_t> magic;  // overrides the magic that the two flags above give
    int32_t cpuType = CPU_TYPE_X86_64;
    int32_t cpuSubtype = CPU_SUBTYPE_X86_64_ALL;
    uint64_t textVmaddr = 0x1000;
    bool withText = true;
    std::vector<Section> textSections{{"__text", std::vector<uint8_t>(64, 0x90)}};
    std::string dataSegment = "__DATA";
    std::vector<Section> dataSections;  // the segment is left out while this is empty
    std::optional<std::array<uint8_t, 16>> uuid;
    std::vector<Symbol> symbols;
    std::optional<Dysymtab> dysymtab;
    std::vector<RawCommand> rawCommands;
    bool lowMemory = false;             // placed in the low 4 GiB, so that 32-bit pointers can reach it
    bool lastNameUnterminated = false;  // the string table ends inside the last symbol's name

    MachOFixture() = default;
    MachOFixture(const MachOFixture&) = delete;
    MachOFixture& operator=(const MachOFixture&) = delete;
    ~MachOFixture() {
        if (memory_) munmap(memory_, mapped_);
    }

    // Lays the image out in fresh pages; call once, after setting the fields.
    void place() {
        build();
        mapped_ = roundToPage(bytes_.size());
        memory_ = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | (lowMemory ? MAP_32BIT : 0), -1, 0);
        memcpy(memory_, bytes_.data(), bytes_.size());
    }

    uint64_t headerAddress() const { return reinterpret_cast<uint64_t>(memory_); }
    int64_t slide() const { return static_cast<int64_t>(headerAddress() - textVmaddr); }
    // Where an unslid address of the image lies in memory.
    uint64_t loaded(uint64_t vmaddr) const { return vmaddr + static_cast<uint64_t>(slide()); }
    uint64_t textSize() const { return textSize_; }
    uint64_t sectionAddress(size_t index) const { return textVmaddr + sectionOffsets_.at(index); }
    // Where a text or data section lies in memory once placed.
    uint64_t textSectionLoaded(size_t index) const { return headerAddress() + sectionOffsets_.at(index); }
    uint64_t dataSectionLoaded(size_t index) const { return headerAddress() + dataOffsets_.at(index); }
    // The placed image's bytes at a loaded address, for writing what holds the image's addresses.
    uint8_t* bytesAt(uint64_t loadedAddress) const { return reinterpret_cast<uint8_t*>(loadedAddress); }

    // Header, common encodings, first level with its sentinel, then the pages, in the host's order.
    static std::vector<uint8_t> unwindInfo(const UnwindInfo& info) {
        std::vector<uint8_t> out;
        const auto put = [&out](size_t at, uint32_t value, size_t width) {
            if (out.size() < at + width) out.resize(at + width);
            memcpy(&out[at], &value, width);
        };
        const uint32_t common = 28;
        const uint32_t index = common + static_cast<uint32_t>(info.commonEncodings.size()) * 4;
        const uint32_t indexCount = static_cast<uint32_t>(info.pages.size()) + 1;
        put(0, info.version, 4);
        put(4, common, 4);
        put(8, static_cast<uint32_t>(info.commonEncodings.size()), 4);
        put(12, index, 4);
        put(16, 0, 4);
        put(20, index, 4);
        put(24, indexCount, 4);
        for (size_t i = 0; i < info.commonEncodings.size(); ++i)
            put(common + i * 4, info.commonEncodings[i], 4);
        uint32_t page = index + indexCount * 12;
        for (size_t i = 0; i < info.pages.size(); ++i) {
            const UnwindPage& p = info.pages[i];
            put(index + i * 12, p.functionOffset, 4);
            put(index + i * 12 + 4, page, 4);
            put(index + i * 12 + 8, 0, 4);
            const uint32_t headerSize = p.compressed ? 12 : 8;
            const uint32_t entrySize = p.compressed ? 4 : 8;
            const uint32_t count = static_cast<uint32_t>(p.entries.size());
            put(page, p.kind.value_or(p.compressed ? 3 : 2), 4);
            put(page + 4, headerSize, 2);
            put(page + 6, count, 2);
            if (p.compressed) {
                put(page + 8, headerSize + count * 4, 2);
                put(page + 10, static_cast<uint32_t>(p.pageEncodings.size()), 2);
            }
            for (uint32_t e = 0; e < count; ++e) {
                const uint32_t at = page + headerSize + e * entrySize;
                if (p.compressed) {
                    put(at, (p.entries[e].second << 24) | (p.entries[e].first & 0xffffff), 4);
                } else {
                    put(at, p.entries[e].first, 4);
                    put(at + 4, p.entries[e].second, 4);
                }
            }
            uint32_t end = page + headerSize + count * entrySize;
            for (uint32_t encoding : p.pageEncodings) {
                put(end, encoding, 4);
                end += 4;
            }
            page = end;
        }
        put(index + info.pages.size() * 12, info.endOffset, 4);
        put(index + info.pages.size() * 12 + 4, 0, 4);
        return out;
    }

  private:
    static uint64_t roundToPage(uint64_t size) {
        const uint64_t page = static_cast<uint64_t>(getpagesize());
        return (size + page - 1) / page * page;
    }

    uint32_t headerSize() const { return is64 ? sizeof(mach_header_64) : sizeof(mach_header); }
    uint32_t segmentSize() const { return is64 ? sizeof(segment_command_64) : sizeof(segment_command); }
    uint32_t sectionSize() const { return is64 ? sizeof(section_64) : sizeof(section); }
    uint32_t entrySize() const { return is64 ? sizeof(nlist_64) : sizeof(nlist); }

    void grow(size_t end) {
        if (bytes_.size() < end) bytes_.resize(end);
    }
    void put8(size_t at, uint8_t value) {
        grow(at + 1);
        bytes_[at] = value;
    }
    void put16(size_t at, uint16_t value) {
        if (swapped) value = __builtin_bswap16(value);
        grow(at + 2);
        memcpy(&bytes_[at], &value, 2);
    }
    void put32(size_t at, uint32_t value) {
        if (swapped) value = __builtin_bswap32(value);
        grow(at + 4);
        memcpy(&bytes_[at], &value, 4);
    }
    void put64(size_t at, uint64_t value) {
        if (swapped) value = __builtin_bswap64(value);
        grow(at + 8);
        memcpy(&bytes_[at], &value, 8);
    }
    // An address or size field: 64 or 32 bits wide as the image is.
    void putWord(size_t at, uint64_t value) {
        if (is64) {
            put64(at, value);
        } else {
            put32(at, static_cast<uint32_t>(value));
        }
    }
    void putName(size_t at, const std::string& name) {
        grow(at + 16);
        memcpy(&bytes_[at], name.data(), name.size() < 16 ? name.size() : 16);
    }

    // Writes a segment command at `at`; answers its size.
    size_t putSegment(size_t at, const std::string& name, uint64_t vmaddr, uint64_t vmsize, uint64_t fileoff,
                      const std::vector<Section>& sections, const std::vector<size_t>& offsets = {}) {
        put32(at, is64 ? LC_SEGMENT_64 : LC_SEGMENT);
        put32(at + 4, segmentSize() + static_cast<uint32_t>(sections.size()) * sectionSize());
        putName(at + 8, name);
        const size_t w = is64 ? 8 : 4;
        putWord(at + 24, vmaddr);
        putWord(at + 24 + w, vmsize);
        putWord(at + 24 + 2 * w, fileoff);
        putWord(at + 24 + 3 * w, vmsize);
        put32(at + 24 + 4 * w, 5);
        put32(at + 28 + 4 * w, 5);
        put32(at + 32 + 4 * w, static_cast<uint32_t>(sections.size()));
        size_t record = at + segmentSize();
        for (size_t index = 0; index < sections.size(); ++index, record += sectionSize()) {
            putName(record, sections[index].name);
            putName(record + 16, name);
            putWord(record + 32, textVmaddr + offsets[index]);
            putWord(record + 32 + w, sections[index].bytes.size());
            put32(record + 32 + 2 * w, static_cast<uint32_t>(offsets[index]));
        }
        return segmentSize() + sections.size() * sectionSize();
    }

    size_t commandsSize() const {
        size_t size = 0;
        if (withText) size += segmentSize() + textSections.size() * sectionSize();
        if (!dataSections.empty()) size += segmentSize() + dataSections.size() * sectionSize();
        size += segmentSize();  // __LINKEDIT
        if (uuid) size += sizeof(uuid_command);
        size += sizeof(symtab_command);
        if (dysymtab) size += sizeof(dysymtab_command);
        for (const RawCommand& raw : rawCommands) size += raw.cmdsize < 8 ? 8 : raw.cmdsize;
        return size;
    }

    size_t putRaw(size_t at, bool beforeText) {
        size_t written = 0;
        for (const RawCommand& raw : rawCommands) {
            if (raw.beforeText != beforeText) continue;
            put32(at + written, raw.cmd);
            put32(at + written + 4, raw.cmdsize);
            written += raw.cmdsize < 8 ? 8 : raw.cmdsize;
            grow(at + written);
        }
        return written;
    }

    void build() {
        const size_t commands = commandsSize();
        // Section contents after the commands, 16-byte aligned; __LINKEDIT on the next page.
        size_t offset = (headerSize() + commands + 15) / 16 * 16;
        sectionOffsets_.clear();
        for (const Section& section : textSections) {
            sectionOffsets_.push_back(offset);
            offset = (offset + section.bytes.size() + 15) / 16 * 16;
        }
        textSize_ = roundToPage(offset);
        offset = textSize_;
        dataOffsets_.clear();
        for (const Section& section : dataSections) {
            dataOffsets_.push_back(offset);
            offset = (offset + section.bytes.size() + 15) / 16 * 16;
        }
        const size_t linkedit = roundToPage(offset);
        const size_t symbolTable = linkedit;
        const size_t stringTable = symbolTable + symbols.size() * entrySize();
        std::string strings(1, '\0');
        std::vector<uint32_t> nameOffsets;
        for (const Symbol& symbol : symbols) {
            nameOffsets.push_back(static_cast<uint32_t>(strings.size()));
            strings += symbol.name;
            strings += '\0';
        }
        if (lastNameUnterminated && !symbols.empty()) strings.pop_back();
        const size_t linkeditSize = stringTable - linkedit + strings.size();

        bytes_.assign(linkedit + linkeditSize, 0);
        put32(0, magic.value_or(is64 ? MH_MAGIC_64 : MH_MAGIC));
        put32(4, static_cast<uint32_t>(cpuType));
        put32(8, static_cast<uint32_t>(cpuSubtype));
        put32(12, MH_DYLIB);
        uint32_t count = static_cast<uint32_t>(rawCommands.size()) + 2 + (withText ? 1 : 0) + (uuid ? 1 : 0) +
                         (dysymtab ? 1 : 0) + (dataSections.empty() ? 0 : 1);
        put32(16, count);
        put32(20, static_cast<uint32_t>(commands));

        size_t at = headerSize();
        at += putRaw(at, true);
        if (withText) at += putSegment(at, "__TEXT", textVmaddr, textSize_, 0, textSections, sectionOffsets_);
        if (!dataSections.empty()) {
            at += putSegment(at, dataSegment, textVmaddr + textSize_, linkedit - textSize_, textSize_,
                             dataSections, dataOffsets_);
        }
        at += putRaw(at, false);
        at += putSegment(at, "__LINKEDIT", textVmaddr + linkedit, linkeditSize, linkedit, {});
        if (uuid) {
            put32(at, LC_UUID);
            put32(at + 4, sizeof(uuid_command));
            memcpy(&bytes_[at + 8], uuid->data(), 16);
            at += sizeof(uuid_command);
        }
        put32(at, LC_SYMTAB);
        put32(at + 4, sizeof(symtab_command));
        put32(at + 8, static_cast<uint32_t>(symbolTable));
        put32(at + 12, static_cast<uint32_t>(symbols.size()));
        put32(at + 16, static_cast<uint32_t>(stringTable));
        put32(at + 20, static_cast<uint32_t>(strings.size()));
        at += sizeof(symtab_command);
        if (dysymtab) {
            put32(at, LC_DYSYMTAB);
            put32(at + 4, sizeof(dysymtab_command));
            put32(at + 8, dysymtab->ilocalsym);
            put32(at + 12, dysymtab->nlocalsym);
            put32(at + 16, dysymtab->iextdefsym);
            put32(at + 20, dysymtab->nextdefsym);
            at += sizeof(dysymtab_command);
        }

        for (size_t index = 0; index < textSections.size(); ++index) {
            memcpy(&bytes_[sectionOffsets_[index]], textSections[index].bytes.data(),
                   textSections[index].bytes.size());
        }
        for (size_t index = 0; index < dataSections.size(); ++index) {
            std::copy(dataSections[index].bytes.begin(), dataSections[index].bytes.end(),
                      bytes_.begin() + static_cast<ptrdiff_t>(dataOffsets_[index]));
        }
        for (size_t index = 0; index < symbols.size(); ++index) {
            const size_t entry = symbolTable + index * entrySize();
            put32(entry, nameOffsets[index]);
            put8(entry + 4, symbols[index].type);
            put8(entry + 5, symbols[index].sect);
            put16(entry + 6, symbols[index].desc);
            putWord(entry + 8, symbols[index].value);
        }
        memcpy(&bytes_[stringTable], strings.data(), strings.size());
    }

    std::vector<uint8_t> bytes_;
    std::vector<size_t> sectionOffsets_;
    std::vector<size_t> dataOffsets_;
    uint64_t textSize_ = 0;
    void* memory_ = nullptr;
    size_t mapped_ = 0;
};
