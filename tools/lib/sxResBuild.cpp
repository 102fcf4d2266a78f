#include "sxResBuild.h"

#include "ovBytes.h"

#include <algorithm>
#include <set>

namespace {

// Reads that stay inside the resource's bytes.
uint32_t Get16(const std::vector<uint8_t>& b, size_t off)
{
    if (!BytesInside(b.size(), off, 2))
        throw EPEFormat("Damaged data: read beyond its end");
    return GetLE16(&b[off]);
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t off)
{
    if (!BytesInside(b.size(), off, 4))
        throw EPEFormat("Damaged data: read beyond its end");
    return GetLE32(&b[off]);
}

void Pad4(std::vector<uint8_t>& b)
{
    while (b.size() % 4)
        b.push_back(0);
}

// ANSI text to UTF-16 (bytes taken as Latin-1), with the terminating zero.
void AddWide(std::vector<uint8_t>& b, const std::string& s)
{
    for (unsigned char c : s)
        AppendLE16(b, c);
    AppendLE16(b, 0);
}

// One node of a version block: header, key, value, children.
std::vector<uint8_t> Node(const std::string& key, uint16_t type, const std::vector<uint8_t>& value,
                          uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children)
{
    std::vector<uint8_t> b;
    AppendLE16(b, 0);
    AppendLE16(b, valueLength);
    AppendLE16(b, type);
    AddWide(b, key);
    Pad4(b);
    b.insert(b.end(), value.begin(), value.end());
    for (const auto& child : children) {
        Pad4(b);
        b.insert(b.end(), child.begin(), child.end());
    }
    PutLE16(b, 0, static_cast<uint16_t>(b.size()));
    return b;
}

struct TVerNode {
    std::string Key;
    uint32_t ValueLength = 0, Type = 0;
    size_t ValueOffset = 0;
    std::vector<TVerNode> Children;
};

std::string ReadWide(const std::vector<uint8_t>& b, size_t& off, size_t end)
{
    std::string s;
    while (off + 2 <= end) {
        uint32_t c = Get16(b, off);
        off += 2;
        if (c == 0)
            break;
        s += c < 0x100 ? static_cast<char>(c) : '?';
    }
    return s;
}

TVerNode ParseNode(const std::vector<uint8_t>& b, size_t off, size_t limit, int depth)
{
    if (depth > 4)
        throw EPEFormat("Damaged version information (too deep)");
    TVerNode n;
    uint32_t length = Get16(b, off);
    size_t end = off + length;
    if (length < 6 || end > limit)
        throw EPEFormat("Damaged version information");
    n.ValueLength = Get16(b, off + 2);
    n.Type = Get16(b, off + 4);
    size_t p = off + 6;
    n.Key = ReadWide(b, p, end);
    p = (p + 3) & ~static_cast<size_t>(3);
    n.ValueOffset = p;
    size_t valueBytes = n.Type == 1 ? n.ValueLength * 2 : n.ValueLength;
    p += valueBytes;
    p = (p + 3) & ~static_cast<size_t>(3);
    while (p + 6 <= end) {
        TVerNode child = ParseNode(b, p, end, depth + 1);
        p += Get16(b, p);
        p = (p + 3) & ~static_cast<size_t>(3);
        n.Children.push_back(std::move(child));
    }
    return n;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ReadVersionStrings(const std::vector<uint8_t>& block,
                                                                    uint16_t fileVersion[4])
{
    std::vector<std::pair<std::string, std::string>> result;
    TVerNode root = ParseNode(block, 0, block.size(), 0);
    if (root.ValueLength >= 52 && Get32(block, root.ValueOffset) == 0xFEEF04BDu) {
        uint32_t ms = Get32(block, root.ValueOffset + 8), ls = Get32(block, root.ValueOffset + 12);
        fileVersion[0] = static_cast<uint16_t>(ms >> 16);
        fileVersion[1] = static_cast<uint16_t>(ms);
        fileVersion[2] = static_cast<uint16_t>(ls >> 16);
        fileVersion[3] = static_cast<uint16_t>(ls);
    }
    for (const TVerNode& info : root.Children) {
        if (info.Key != "StringFileInfo")
            continue;
        for (const TVerNode& table : info.Children)
            for (const TVerNode& s : table.Children) {
                size_t p = s.ValueOffset;
                std::string value = ReadWide(block, p, std::min(block.size(), s.ValueOffset + s.ValueLength * 2));
                result.emplace_back(s.Key, value);
            }
    }
    return result;
}

void ReplaceVersionInfo(TPEFile& pe, const uint16_t fileVersion[4], const uint16_t productVersion[4],
                        const std::vector<std::pair<std::string, std::string>>& given)
{
    const TResId type(RT_VERSION_ID), name(static_cast<uint16_t>(1));
    uint16_t language = 0x409;
    std::vector<std::pair<std::string, std::string>> strings;
    if (const TResEntry* old = pe.Find(type, name)) {
        language = old->Language;
        uint16_t ignored[4];
        try {
            strings = ReadVersionStrings(old->Data, ignored);
        } catch (const EPEFormat&) {
            strings.clear();  // a damaged block is replaced whole
        }
    }
    auto set = [&](const std::string& key, const std::string& value) {
        for (auto& kv : strings)
            if (kv.first == key) {
                kv.second = value;
                return;
            }
        strings.emplace_back(key, value);
    };
    auto text = [](const uint16_t v[4]) {
        return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
               std::to_string(v[3]);
    };
    set("FileVersion", text(fileVersion));
    set("ProductVersion", text(productVersion));
    for (const auto& kv : given)
        set(kv.first, kv.second);

    std::vector<uint8_t> fixed;
    AppendLE32(fixed, 0xFEEF04BDu);
    AppendLE32(fixed, 0x00010000u);
    AppendLE32(fixed, (static_cast<uint32_t>(fileVersion[0]) << 16) | fileVersion[1]);
    AppendLE32(fixed, (static_cast<uint32_t>(fileVersion[2]) << 16) | fileVersion[3]);
    AppendLE32(fixed, (static_cast<uint32_t>(productVersion[0]) << 16) | productVersion[1]);
    AppendLE32(fixed, (static_cast<uint32_t>(productVersion[2]) << 16) | productVersion[3]);
    AppendLE32(fixed, 0x3F);       // flags mask
    AppendLE32(fixed, 0);          // flags
    AppendLE32(fixed, 0x00040004); // NT, 32-bit Windows
    AppendLE32(fixed, 1);          // application
    AppendLE32(fixed, 0);
    AppendLE32(fixed, 0);
    AppendLE32(fixed, 0);

    std::vector<std::vector<uint8_t>> stringNodes;
    for (const auto& kv : strings) {
        std::vector<uint8_t> value;
        AddWide(value, kv.second);
        stringNodes.push_back(Node(kv.first, 1, value, static_cast<uint16_t>(kv.second.size() + 1), {}));
    }
    std::vector<uint8_t> table = Node("040904E4", 1, {}, 0, stringNodes);
    std::vector<uint8_t> stringInfo = Node("StringFileInfo", 1, {}, 0, {table});
    std::vector<uint8_t> translation;
    AppendLE16(translation, 0x0409);
    AppendLE16(translation, 1252);
    std::vector<uint8_t> var = Node("Translation", 0, translation, 4, {});
    std::vector<uint8_t> varInfo = Node("VarFileInfo", 1, {}, 0, {var});
    std::vector<uint8_t> root = Node("VS_VERSION_INFO", 0, fixed, 52, {stringInfo, varInfo});
    if (root.size() > 0xFFFF)
        throw EPEFormat("Version information too long");
    pe.Set(type, name, root, language);
}

void ReplaceIcon(TPEFile& pe, const std::vector<uint8_t>& ico)
{
    // The .ico file: header (0, 1, count) and 16-byte entries.
    if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1)
        throw EPEFormat("Not an icon file");
    uint32_t count = Get16(ico, 4);
    if (count == 0 || 6 + count * 16 > ico.size())
        throw EPEFormat("Damaged icon file");

    // The group to replace: the first one of the image, or a new "MAINICON".
    TResId groupName("MAINICON");
    uint16_t language = 0x409;
    std::set<uint16_t> oldIcons;
    for (const TResEntry& e : pe.Resources()) {
        if (e.Type == TResId(RT_GROUP_ICON_ID)) {
            groupName = e.Name;
            language = e.Language;
            uint32_t n = e.Data.size() >= 6 ? Get16(e.Data, 4) : 0;
            for (uint32_t i = 0; i < n && 6 + i * 14 + 14 <= e.Data.size(); ++i)
                oldIcons.insert(static_cast<uint16_t>(Get16(e.Data, 6 + i * 14 + 12)));
            break;
        }
    }
    for (uint16_t id : oldIcons)
        pe.Remove(TResId(RT_ICON_ID), TResId(id));
    uint16_t nextId = 1;
    for (const TResEntry& e : pe.Resources())
        if (e.Type == TResId(RT_ICON_ID) && !e.Name.IsName)
            nextId = std::max<uint16_t>(nextId, static_cast<uint16_t>(e.Name.Id + 1));

    std::vector<uint8_t> group;
    AppendLE16(group, 0);
    AppendLE16(group, 1);
    AppendLE16(group, count);
    for (uint32_t i = 0; i < count; ++i) {
        size_t e = 6 + i * 16;
        uint32_t size = Get32(ico, e + 8), offset = Get32(ico, e + 12);
        if (size == 0 || static_cast<uint64_t>(offset) + size > ico.size())
            throw EPEFormat("Damaged icon file (image outside the file)");
        group.insert(group.end(), ico.begin() + static_cast<std::ptrdiff_t>(e),
                     ico.begin() + static_cast<std::ptrdiff_t>(e + 12));
        uint16_t id = static_cast<uint16_t>(nextId + i);
        AppendLE16(group, id);
        std::vector<uint8_t> image(ico.begin() + offset, ico.begin() + offset + size);
        pe.Set(TResId(RT_ICON_ID), TResId(id), std::move(image), language);
    }
    pe.Set(TResId(RT_GROUP_ICON_ID), groupName, std::move(group), language);
}
