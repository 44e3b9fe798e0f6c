#include "repo/StoredInstance.h"

#include "CimXml/CimXml.h"
#include "repo/CimValues.h"

#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>

using namespace Pegasus;
using orv::cimxml::Layout;

namespace minicimd {

namespace {

// The answers' layout (CimHandler writes every answer this way).
constexpr Layout kAnswerLayout = Layout::OneElementPerLine;

std::string laidOut(const std::string& compact)
{
    return orv::cimxml::laidOut(compact, kAnswerLayout);
}

// VALUE text back to the text it stands for: the writer escapes only these.
std::string unescaped(const std::string& text)
{
    if (text.find('&') == std::string::npos) return text;
    static const struct {
        const char* entity;
        char c;
    } kEntities[] = {{"&amp;", '&'},   {"&lt;", '<'},  {"&gt;", '>'},   {"&quot;", '"'},
                     {"&apos;", '\''}, {"&#9;", '\t'}, {"&#10;", '\n'}, {"&#13;", '\r'}};
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& e : kEntities) {
                if (text.compare(i, std::char_traits<char>::length(e.entity), e.entity) == 0) {
                    out += e.c;
                    i += std::char_traits<char>::length(e.entity);
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

bool listed(const std::vector<std::string>& list, const std::string& name)
{
    for (const auto& n : list)
        if (nameEq(n, name)) return true;
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------

StoredValue::StoredValue(const CIMValue& v) : type_(v.getType()), isArray_(v.isArray())
{
    if (v.isNull()) return;
    const bool hasText =
        !v.isArray() && type_ != CIMTYPE_REFERENCE && type_ != CIMTYPE_OBJECT && type_ != CIMTYPE_INSTANCE;
    if (hasText) {
        try {
            text_ = orv::cimxml::valueText(v);
            form_ = Form::Text;
            return;
        } catch (const orv::cimxml::EncodeError&) {
            // Kept whole: writing it fails as it always did.
        }
    }
    whole_ = std::make_shared<const CIMValue>(v);
    form_ = Form::Whole;
    wholeBytes_ = sizeof(CIMValue) + v.toString().size() * sizeof(Char16);
}

CIMValue StoredValue::value() const
{
    switch (form_) {
        case Form::Null:
            return CIMValue(type_, isArray_);
        case Form::Text:
            return orv::cimxml::parseScalar(type_, unescaped(text_));
        case Form::Whole:
            break;
    }
    return *whole_;
}

void StoredValue::writeElement(std::string& out) const
{
    switch (form_) {
        case Form::Null:
            return;
        case Form::Text:
            out += "<VALUE>";
            out += text_;
            out += "</VALUE>\n";
            return;
        case Form::Whole:
            break;
    }
    std::string compact;
    orv::cimxml::writeValueElement(compact, *whole_);
    out += laidOut(compact);
}

const StoredProperty* StoredInstance::find(Uint32 index) const
{
    for (const auto& p : properties)
        if (p.index == index) return &p;
    return nullptr;
}

size_t StoredInstance::bytes() const
{
    // The path and the identity that indexes it are about as long as the name element.
    size_t n = sizeof(StoredInstance) + 3 * nameElement.size();
    for (const auto& p : properties) n += sizeof(StoredProperty) + p.value.bytes();
    return n;
}

void StoredInstance::set(Uint32 index, const CIMValue& v)
{
    for (auto& p : properties) {
        if (p.index == index) {
            p.value = StoredValue(v);
            return;
        }
    }
    properties.push_back(StoredProperty{index, false, StoredValue(v)});
}

// ---------------------------------------------------------------------------

InstanceForms::InstanceForms(const CIMConstClass& cls)
{
    std::string name;
    orv::cimxml::appendEscaped(name, cls.getClassName().getString());
    start_ = "<INSTANCE CLASSNAME=\"" + name + "\">\n";
    end_ = "</INSTANCE>\n";
    properties_.resize(cls.getPropertyCount());
    for (Uint32 i = 0; i < cls.getPropertyCount(); ++i) {
        CIMConstProperty decl = cls.getProperty(i);
        Property& f = properties_[i];
        f.name = str(decl.getName());
        f.classDefault = StoredValue(decl.getValue());
        try {
            for (int origin = 0; origin < 2; ++origin) {
                for (int propagated = 0; propagated < 2; ++propagated) {
                    CIMProperty p(decl.getName(), CIMValue(decl.getType(), decl.isArray()),
                                  decl.getArraySize(), decl.getReferenceClassName(),
                                  origin ? decl.getClassOrigin() : CIMName(), propagated != 0);
                    std::string tag;
                    orv::cimxml::writePropertyStart(tag, p);
                    f.start[origin][propagated] = laidOut(tag);
                    if (origin == 0 && propagated == 0) {
                        tag.clear();
                        orv::cimxml::writePropertyEnd(tag, p);
                        f.end = laidOut(tag);
                    }
                }
            }
        } catch (const orv::cimxml::EncodeError& e) {
            f.error = e.what();
        }
        try {
            std::string qualifiers;
            for (Uint32 q = 0; q < decl.getQualifierCount(); ++q)
                orv::cimxml::writeQualifier(qualifiers, decl.getQualifier(q));
            f.qualifiers = laidOut(qualifiers);
        } catch (const orv::cimxml::EncodeError& e) {
            f.qualifierError = e.what();
        }
    }
}

CIMProperty instanceProperty(const CIMConstProperty& decl, const CIMValue& value, bool propagated)
{
    return CIMProperty(decl.getName(), value, decl.getArraySize(), decl.getReferenceClassName(),
                       decl.getClassOrigin(), propagated);
}

CIMInstance InstanceForms::instanceOf(const CIMConstClass& cls, const StoredInstance& s) const
{
    CIMInstance inst(cls.getClassName());
    for (Uint32 i = 0; i < cls.getPropertyCount(); ++i) {
        const StoredProperty* p = s.find(i);
        if (p && p->given) continue;
        CIMConstProperty decl = cls.getProperty(i);
        inst.addProperty(instanceProperty(decl, p ? p->value.value() : decl.getValue(), true));
    }
    for (const auto& p : s.properties) {
        if (p.given) inst.addProperty(instanceProperty(cls.getProperty(p.index), p.value.value(), false));
    }
    inst.setPath(s.path);
    return inst;
}

void InstanceForms::write(const StoredInstance& s, const InstanceView& view, std::string& out) const
{
    std::vector<const StoredProperty*> at(properties_.size(), nullptr);
    for (const auto& p : s.properties) at[p.index] = &p;
    auto one = [&](Uint32 i, const StoredValue& v, bool propagated) {
        const Property& f = properties_[i];
        if (view.propertyList && !listed(*view.propertyList, f.name)) return;
        if (!f.error.empty()) throw orv::cimxml::EncodeError(f.error);
        out += f.start[view.includeClassOrigin ? 1 : 0][propagated ? 1 : 0];
        if (view.includeQualifiers) {
            if (!f.qualifierError.empty()) throw orv::cimxml::EncodeError(f.qualifierError);
            out += f.qualifiers;
        }
        v.writeElement(out);
        out += f.end;
    };
    out += start_;
    for (Uint32 i = 0; i < properties_.size(); ++i) {
        if (at[i] && at[i]->given) continue;
        one(i, at[i] ? at[i]->value : properties_[i].classDefault, true);
    }
    for (const auto& p : s.properties) {
        if (p.given) one(p.index, p.value, false);
    }
    out += end_;
}

StoredInstance InstanceForms::storedOf(const CIMConstClass& cls, const CIMConstInstance& inst)
{
    StoredInstance s;
    for (Uint32 k = 0; k < inst.getPropertyCount(); ++k) {
        CIMConstProperty p = inst.getProperty(k);
        if (!p.getPropagated())
            s.properties.push_back(
                StoredProperty{cls.findProperty(p.getName()), true, StoredValue(p.getValue())});
    }
    s.path = inst.getPath();
    try {
        std::string name;
        orv::cimxml::writeInstanceName(name, s.path);
        s.nameElement = laidOut(name);
    } catch (const orv::cimxml::EncodeError&) {
        // Written when asked for, and failing then.
    }
    return s;
}

}  // namespace minicimd
