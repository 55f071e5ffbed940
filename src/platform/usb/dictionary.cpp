#include "platform/usb/dictionary.h"

namespace quintalis::usbscreen {
namespace {

constexpr uint32_t kDict = fourCC("dict");
constexpr uint32_t kKeyValue = fourCC("keyv");
constexpr uint32_t kStringKey = fourCC("strk");
constexpr uint32_t kIndexKey = fourCC("idxk");
constexpr uint32_t kBool = fourCC("bulv");
constexpr uint32_t kString = fourCC("strv");
constexpr uint32_t kData = fourCC("datv");
constexpr uint32_t kNumber = fourCC("nmbv");
constexpr uint32_t kFormat = fourCC("fdsc");
constexpr uint32_t kMedia = fourCC("mdia");
constexpr uint32_t kDimensions = fourCC("vdim");
constexpr uint32_t kCodec = fourCC("codc");
constexpr uint32_t kExtensions = fourCC("extn");
constexpr uint32_t kAudioDescription = fourCC("asbd");
constexpr uint16_t kAtomsExtension = 49;
constexpr uint16_t kAvcCAtom = 105;
constexpr uint16_t kFormatName = 52;

void checkDepth(int depth) {
    if (depth > kMaxNesting) throw WireError("dictionaries nested more than " + std::to_string(kMaxNesting) + " deep");
}

Number readNumber(ByteReader body) {
    Number number;
    uint8_t type = body.u8();
    switch (type) {
        case Number::int32:
            number.type = Number::int32;
            number.integer = static_cast<int32_t>(body.u32());
            break;
        case Number::uncertain32:
            number.type = Number::uncertain32;
            number.integer = body.u32();
            break;
        case Number::int64:
            number.type = Number::int64;
            number.integer = body.i64();
            break;
        case Number::float64:
            number.type = Number::float64;
            number.real = body.f64();
            break;
        default:
            throw WireError("a number of unknown type " + std::to_string(type));
    }
    if (body.remaining() != 0) throw WireError("a number atom has bytes left over");
    return number;
}

Value readValue(ByteReader& reader, int depth) {
    Atom atom = readAtom(reader);
    switch (atom.magic) {
        case kBool:
            if (atom.body.remaining() != 1) throw WireError("a boolean atom is not one byte");
            return Value::of(atom.body.u8() != 0);
        case kString:
            return Value::of(std::string(reinterpret_cast<const char*>(atom.body.here()), atom.body.remaining()));
        case kData:
            return Value::ofData(atom.body.bytes(atom.body.remaining()));
        case kNumber:
            return Value::of(readNumber(atom.body));
        case kDict:
            return Value::of(parseDictionaryBody(atom.body, depth + 1));
        case kFormat:
            return Value::of(parseFormatDescriptionBody(atom.body, depth + 1));
        default:
            throw WireError("a dictionary value of unknown type " + fourCCText(atom.magic));
    }
}

void writeValue(ByteWriter& out, const Value& value) {
    switch (value.kind) {
        case Value::Kind::boolean: {
            auto at = out.open(kBool);
            out.u8(value.boolean ? 1 : 0);
            out.close(at);
            break;
        }
        case Value::Kind::string:
        case Value::Kind::data: {
            auto at = out.open(value.kind == Value::Kind::string ? kString : kData);
            out.append(value.text);
            out.close(at);
            break;
        }
        case Value::Kind::number: {
            auto at = out.open(kNumber);
            const Number& n = value.number;
            out.u8(n.type);
            if (n.type == Number::float64) out.f64(n.real);
            else if (n.type == Number::int64) out.u64(static_cast<uint64_t>(n.integer));
            else out.u32(static_cast<uint32_t>(n.integer));
            out.close(at);
            break;
        }
        case Value::Kind::dictionary:
            writeDictionary(out, *value.dictionary);
            break;
        case Value::Kind::format:
            writeFormatDescription(out, *value.format);
            break;
    }
}

}  // namespace

const Value* Dictionary::find(const Key& key) const {
    for (const auto& entry : entries) {
        if (entry.key == key) return &entry.value;
    }
    return nullptr;
}

Dictionary& Dictionary::add(Key key, Value value) {
    entries.push_back(Entry{std::move(key), std::move(value)});
    return *this;
}

Value Value::of(bool value) {
    Value v;
    v.kind = Kind::boolean;
    v.boolean = value;
    return v;
}
Value Value::of(std::string value) {
    Value v;
    v.kind = Kind::string;
    v.text = std::move(value);
    return v;
}
Value Value::ofData(const Bytes& value) {
    Value v;
    v.kind = Kind::data;
    v.text.assign(value.begin(), value.end());
    return v;
}
Value Value::of(Number value) {
    Value v;
    v.kind = Kind::number;
    v.number = value;
    return v;
}
Value Value::of(Dictionary value) {
    Value v;
    v.kind = Kind::dictionary;
    v.dictionary = std::make_shared<Dictionary>(std::move(value));
    return v;
}
Value Value::of(FormatDescription value) {
    Value v;
    v.kind = Kind::format;
    v.format = std::make_shared<FormatDescription>(std::move(value));
    return v;
}

const std::string* FormatDescription::avcC() const {
    const Value* atoms = extensions.find(kAtomsExtension);
    if (!atoms || atoms->kind != Value::Kind::dictionary) return nullptr;
    const Value* record = atoms->dictionary->find(kAvcCAtom);
    if (!record || record->kind != Value::Kind::data) return nullptr;
    return &record->text;
}

Dictionary parseDictionaryBody(ByteReader body, int depth) {
    checkDepth(depth);
    Dictionary dictionary;
    while (body.remaining() > 0) {
        Atom entry = readAtom(body);
        if (entry.magic != kKeyValue) throw WireError("a dictionary entry is " + fourCCText(entry.magic) + ", not keyv");
        Atom key = readAtom(entry.body);
        Dictionary::Key parsedKey;
        if (key.magic == kStringKey) {
            parsedKey = std::string(reinterpret_cast<const char*>(key.body.here()), key.body.remaining());
        } else if (key.magic == kIndexKey) {
            parsedKey = key.body.u16();
            if (key.body.remaining() != 0) throw WireError("an index key is not two bytes");
        } else {
            throw WireError("a dictionary key of unknown type " + fourCCText(key.magic));
        }
        Value value = readValue(entry.body, depth);
        if (entry.body.remaining() != 0) throw WireError("a dictionary entry has bytes after its value");
        dictionary.add(std::move(parsedKey), std::move(value));
    }
    return dictionary;
}

FormatDescription parseFormatDescriptionBody(ByteReader body, int depth) {
    checkDepth(depth);
    FormatDescription format;
    while (body.remaining() > 0) {
        Atom child = readAtom(body);
        switch (child.magic) {
            case kMedia:
                format.mediaType = child.body.u32();
                break;
            case kDimensions:
                format.width = child.body.u32();
                format.height = child.body.u32();
                break;
            case kCodec:
                format.codec = child.body.u32();
                break;
            case kExtensions:
                format.extensions = parseDictionaryBody(child.body, depth + 1);
                break;
            case kAudioDescription:
                format.audioDescription = child.body.bytes(child.body.remaining());
                break;
            default:
                throw WireError("a format description holds an unknown " + fourCCText(child.magic));
        }
    }
    if (format.mediaType == 0) throw WireError("a format description without its media type");
    return format;
}

void writeDictionary(ByteWriter& out, const Dictionary& dictionary, uint32_t magic) {
    auto at = out.open(magic);
    for (const auto& entry : dictionary.entries) {
        auto entryAt = out.open(kKeyValue);
        if (const auto* text = std::get_if<std::string>(&entry.key)) {
            auto keyAt = out.open(kStringKey);
            out.append(*text);
            out.close(keyAt);
        } else {
            auto keyAt = out.open(kIndexKey);
            out.u16(std::get<uint16_t>(entry.key));
            out.close(keyAt);
        }
        writeValue(out, entry.value);
        out.close(entryAt);
    }
    out.close(at);
}

void writeFormatDescription(ByteWriter& out, const FormatDescription& format) {
    auto at = out.open(kFormat);
    auto media = out.open(kMedia);
    out.u32(format.mediaType);
    out.close(media);
    if (format.mediaType == fourCC("vide")) {
        auto dimensions = out.open(kDimensions);
        out.u32(format.width);
        out.u32(format.height);
        out.close(dimensions);
        auto codec = out.open(kCodec);
        out.u32(format.codec);
        out.close(codec);
        writeDictionary(out, format.extensions, kExtensions);
    } else {
        auto description = out.open(kAudioDescription);
        out.append(format.audioDescription);
        out.close(description);
    }
    out.close(at);
}

Bytes makeAvcC(const Bytes& sps, const Bytes& pps) {
    ByteWriter out;
    out.u8(1);
    out.u8(sps.size() > 1 ? sps[1] : 66);  // profile
    out.u8(sps.size() > 2 ? sps[2] : 0);   // compatibility
    out.u8(sps.size() > 3 ? sps[3] : 31);  // level
    out.u8(0xFF);                          // 4-byte NAL lengths
    out.u8(0xE1);                          // one SPS
    out.u16BigEndian(static_cast<uint16_t>(sps.size()));
    out.append(sps);
    out.u8(1);
    out.u16BigEndian(static_cast<uint16_t>(pps.size()));
    out.append(pps);
    return out.take();
}

FormatDescription videoFormat(uint32_t width, uint32_t height, const Bytes& avcC) {
    FormatDescription format;
    format.mediaType = fourCC("vide");
    format.width = width;
    format.height = height;
    format.codec = fourCC("avc1");
    Dictionary atoms;
    atoms.add(kAvcCAtom, Value::ofData(avcC));
    format.extensions.add(kAtomsExtension, Value::of(std::move(atoms)));
    format.extensions.add(kFormatName, Value::of(std::string("H.264")));
    return format;
}

std::string fourCCText(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = static_cast<char>(code >> shift);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return "'" + text + "'";
}

}  // namespace quintalis::usbscreen
