#include "MofParser.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

namespace minicimd {
namespace mof {

namespace {

bool ieq(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

std::string dirOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// State shared by a file and the files it includes.
struct Session {
    Compilation& out;
    std::string nameSpace;
    std::vector<std::string> includeStack;  // canonical paths being read
    size_t totalBytes = 0;
};

class FileParser {
public:
    FileParser(Session& s, const std::string& text, const std::string& name, const std::string& baseDir)
        : s_(s), lex_(text, name), baseDir_(baseDir)
    {
        tok_ = lex_.next();
    }

    void parseAll()
    {
        while (tok_.kind != TokenKind::End) parseProduction();
    }

private:
    [[noreturn]] void failAt(const SourcePos& pos, const std::string& msg) { throw MofError(pos, msg); }
    [[noreturn]] void unexpected(const std::string& wanted)
    {
        failAt(tok_.pos, "expected " + wanted + ", found " + tok_.describe());
    }
    Token take()
    {
        Token t = tok_;
        tok_ = lex_.next();
        return t;
    }
    bool at(TokenKind k) const { return tok_.kind == k; }
    bool atWord(const char* w) const { return tok_.kind == TokenKind::Identifier && ieq(tok_.text, w); }
    Token expect(TokenKind k, const std::string& wanted)
    {
        if (!at(k)) unexpected(wanted);
        return take();
    }
    void expectWord(const char* w)
    {
        if (!atWord(w)) unexpected(std::string("'") + w + "'");
        take();
    }
    Token expectIdentifier(const std::string& what)
    {
        if (!at(TokenKind::Identifier)) unexpected(what);
        return take();
    }

    void parseProduction()
    {
        if (at(TokenKind::Pragma)) {
            parsePragma();
            return;
        }
        std::vector<QualifierUse> quals;
        SourcePos start = tok_.pos;
        if (at(TokenKind::LBracket)) quals = parseQualifierList();
        if (atWord("class")) {
            parseClass(std::move(quals), start);
        } else if (atWord("instance")) {
            parseInstance(std::move(quals), start);
        } else if (atWord("qualifier")) {
            if (!quals.empty()) failAt(start, "a qualifier declaration cannot carry qualifiers");
            parseQualifierDecl();
        } else {
            unexpected(quals.empty() ? "'class', 'instance', 'qualifier' or '#pragma'"
                                     : "'class' or 'instance' after the qualifier list");
        }
    }

    void parsePragma()
    {
        SourcePos pos = take().pos;
        Token name = expectIdentifier("a pragma name");
        expect(TokenKind::LParen, "'(' after the pragma name");
        Token arg = expect(TokenKind::String, "a string argument to the pragma");
        while (at(TokenKind::String)) arg.text += take().text;
        expect(TokenKind::RParen, "')' after the pragma argument");
        if (ieq(name.text, "include")) {
            include(arg.text, arg.pos);
        } else if (ieq(name.text, "namespace")) {
            std::string ns = arg.text;
            while (!ns.empty() && ns.front() == '/') ns.erase(0, 1);
            while (!ns.empty() && ns.back() == '/') ns.pop_back();
            if (ns.empty()) failAt(arg.pos, "empty namespace in '#pragma namespace'");
            s_.nameSpace = ns;
        } else if (ieq(name.text, "locale") || ieq(name.text, "instancelocale") || ieq(name.text, "source") ||
                   ieq(name.text, "nonlocal") || ieq(name.text, "nonlocaltype") ||
                   ieq(name.text, "sourcetype")) {
            // Recorded by nothing: all text is UTF-8 and the repository is local.
        } else {
            s_.out.warnings.push_back(pos.toString() + ": unknown pragma '" + name.text + "' ignored");
        }
    }

    void include(const std::string& rel, const SourcePos& pos)
    {
        if (rel.empty()) failAt(pos, "empty file name in '#pragma include'");
        std::string path = (!rel.empty() && rel[0] == '/') ? rel : baseDir_ + "/" + rel;
        std::string savedNs = s_.nameSpace;
        readFile(s_, path, pos);
        s_.nameSpace = savedNs;  // a namespace pragma ends with the file it is in
    }

public:
    static void readFile(Session& s, const std::string& path, const SourcePos& from)
    {
        auto fail = [&](const std::string& msg) {
            if (from.file.empty()) throw MofError(SourcePos{path, 0, 0}, msg);
            throw MofError(from, msg);
        };
        if (s.includeStack.size() >= MofParser::kMaxIncludeDepth)
            fail("includes nested deeper than " + std::to_string(MofParser::kMaxIncludeDepth) +
                 " levels at '" + path + "'");
        struct stat st;
        if (stat(path.c_str(), &st) != 0) fail("cannot open '" + path + "': " + strerror(errno));
        if (!S_ISREG(st.st_mode)) fail("'" + path + "' is not a regular file");
        if (static_cast<uint64_t>(st.st_size) > MofParser::kMaxFileBytes)
            fail("'" + path + "' is larger than the " + std::to_string(MofParser::kMaxFileBytes) +
                 "-byte limit for one MOF file");
        char real[PATH_MAX];
        if (!realpath(path.c_str(), real)) fail("cannot resolve '" + path + "': " + strerror(errno));
        for (const auto& open : s.includeStack)
            if (open == real) fail("'" + path + "' includes itself");
        std::ifstream in(path, std::ios::binary);
        if (!in) fail("cannot open '" + path + "': " + strerror(errno));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) fail("cannot read '" + path + "'");
        if (text.size() > MofParser::kMaxFileBytes)
            fail("'" + path + "' is larger than the " + std::to_string(MofParser::kMaxFileBytes) +
                 "-byte limit for one MOF file");
        s.totalBytes += text.size();
        if (s.totalBytes > MofParser::kMaxTotalBytes)
            fail("the MOF files read exceed the " + std::to_string(MofParser::kMaxTotalBytes) +
                 "-byte limit for one compilation");
        s.includeStack.push_back(real);
        s.out.files.push_back(path);
        FileParser p(s, text, path, dirOf(path));
        p.parseAll();
        s.includeStack.pop_back();
    }

private:
    // ---- qualifiers -------------------------------------------------------
    std::vector<QualifierUse> parseQualifierList()
    {
        expect(TokenKind::LBracket, "'['");
        std::vector<QualifierUse> list;
        for (;;) {
            QualifierUse q;
            Token name = expectIdentifier("a qualifier name");
            q.name = name.text;
            q.pos = name.pos;
            for (const auto& other : list)
                if (ieq(other.name, q.name.c_str())) failAt(q.pos, "qualifier '" + q.name + "' given twice");
            if (at(TokenKind::LParen)) {
                take();
                q.value = parseConstantValue();
                expect(TokenKind::RParen, "')' after the qualifier value");
            } else if (at(TokenKind::LBrace)) {
                q.value = parseArrayInitializer();
            }
            if (at(TokenKind::Colon)) {
                take();
                if (!at(TokenKind::Identifier)) unexpected("a flavor after ':'");
                while (at(TokenKind::Identifier)) parseFlavor(q.flavors);
            }
            list.push_back(std::move(q));
            if (at(TokenKind::Comma)) {
                take();
                continue;
            }
            expect(TokenKind::RBracket, "',' or ']' in the qualifier list");
            return list;
        }
    }

    void parseFlavor(Flavors& f)
    {
        Token t = expectIdentifier("a flavor");
        auto setOnce = [&](std::optional<bool>& slot, bool v, const char* pair) {
            if (slot && *slot != v) failAt(t.pos, std::string("conflicting flavors ") + pair);
            slot = v;
        };
        if (ieq(t.text, "EnableOverride"))
            setOnce(f.overridable, true, "EnableOverride and DisableOverride");
        else if (ieq(t.text, "DisableOverride"))
            setOnce(f.overridable, false, "EnableOverride and DisableOverride");
        else if (ieq(t.text, "ToSubclass"))
            setOnce(f.toSubclass, true, "ToSubclass and Restricted");
        else if (ieq(t.text, "Restricted"))
            setOnce(f.toSubclass, false, "ToSubclass and Restricted");
        else if (ieq(t.text, "Translatable"))
            f.translatable = true;
        else if (ieq(t.text, "ToInstance")) { /* obsolete; instances carry no qualifiers here */
        } else
            failAt(t.pos, "unknown flavor '" + t.text + "'");
    }

    void parseQualifierDecl()
    {
        take();  // Qualifier
        QualifierDecl d;
        Token name = expectIdentifier("a qualifier name");
        d.name = name.text;
        d.pos = name.pos;
        d.nameSpace = s_.nameSpace;
        expect(TokenKind::Colon, "':' and the qualifier type");
        Token type = expectIdentifier("a data type");
        if (!dataTypeFromName(type.text, d.type)) failAt(type.pos, "unknown data type '" + type.text + "'");
        if (at(TokenKind::LBracket)) parseArraySuffix(d.isArray, d.arraySize);
        if (at(TokenKind::Equals)) {
            take();
            d.defaultValue = parseInitializer();
        }
        expect(TokenKind::Comma, "',' and the scope");
        expectWord("scope");
        expect(TokenKind::LParen, "'(' after 'Scope'");
        for (;;) {
            Token m = expectIdentifier(
                "a scope (class, association, indication, property, reference, "
                "method, parameter or any)");
            uint32_t bit = 0;
            if (ieq(m.text, "class"))
                bit = ScopeClass;
            else if (ieq(m.text, "association"))
                bit = ScopeAssociation;
            else if (ieq(m.text, "indication"))
                bit = ScopeIndication;
            else if (ieq(m.text, "property"))
                bit = ScopeProperty;
            else if (ieq(m.text, "reference"))
                bit = ScopeReference;
            else if (ieq(m.text, "method"))
                bit = ScopeMethod;
            else if (ieq(m.text, "parameter"))
                bit = ScopeParameter;
            else if (ieq(m.text, "any"))
                bit = ScopeAny;
            else if (ieq(m.text, "qualifier"))
                bit = 0;  // meta-qualifiers: nothing to check
            else
                failAt(m.pos, "unknown scope '" + m.text + "'");
            d.scopes |= bit;
            if (at(TokenKind::Comma)) {
                take();
                continue;
            }
            expect(TokenKind::RParen, "',' or ')' in the scope list");
            break;
        }
        if (at(TokenKind::Comma)) {
            take();
            expectWord("flavor");
            expect(TokenKind::LParen, "'(' after 'Flavor'");
            for (;;) {
                parseFlavor(d.flavors);
                if (at(TokenKind::Comma)) {
                    take();
                    continue;
                }
                expect(TokenKind::RParen, "',' or ')' in the flavor list");
                break;
            }
        }
        expect(TokenKind::Semicolon, "';' after the qualifier declaration");
        s_.out.order.push_back({Production::Qualifier, s_.out.qualifiers.size()});
        s_.out.qualifiers.push_back(std::move(d));
    }

    // ---- classes ----------------------------------------------------------
    void parseArraySuffix(bool& isArray, uint32_t& size)
    {
        expect(TokenKind::LBracket, "'['");
        isArray = true;
        size = 0;
        if (at(TokenKind::Integer)) {
            Token n = take();
            if (n.negative || n.magnitude == 0 || n.magnitude > UINT32_MAX)
                failAt(n.pos, "array size must be a positive 32-bit number");
            size = static_cast<uint32_t>(n.magnitude);
        }
        expect(TokenKind::RBracket, "']' to close the array size");
    }

    // After qualifiers: either `type name` or `ClassName REF name`.
    void parseTypeAndName(DataType& type, std::string& refClass, Token& name, const char* what)
    {
        Token t = expectIdentifier(std::string("a data type or class name for the ") + what);
        if (atWord("ref")) {
            take();
            type = DataType::Reference;
            refClass = t.text;
        } else if (!dataTypeFromName(t.text, type)) {
            failAt(t.pos, "unknown data type '" + t.text + "' (a reference is written 'ClassName REF name')");
        }
        name = expectIdentifier(std::string("the ") + what + " name");
    }

    void parseClass(std::vector<QualifierUse> quals, const SourcePos& start)
    {
        take();  // class
        ClassDecl c;
        c.qualifiers = std::move(quals);
        Token name = expectIdentifier("a class name");
        c.name = name.text;
        c.pos = start.file.empty() ? name.pos : start;
        c.nameSpace = s_.nameSpace;
        if (at(TokenKind::Colon)) {
            take();
            c.superClass = expectIdentifier("the superclass name").text;
        }
        expect(TokenKind::LBrace, "'{' to open the class body");
        while (!at(TokenKind::RBrace)) {
            if (at(TokenKind::End)) unexpected("'}' to close class '" + c.name + "'");
            std::vector<QualifierUse> fq;
            if (at(TokenKind::LBracket)) fq = parseQualifierList();
            DataType type;
            std::string refClass;
            Token fname;
            parseTypeAndName(type, refClass, fname, "property or method");
            for (const auto& p : c.properties)
                if (ieq(p.name, fname.text.c_str()))
                    failAt(fname.pos, "'" + fname.text + "' declared twice in class '" + c.name + "'");
            for (const auto& m : c.methods)
                if (ieq(m.name, fname.text.c_str()))
                    failAt(fname.pos, "'" + fname.text + "' declared twice in class '" + c.name + "'");
            if (at(TokenKind::LParen)) {
                if (type == DataType::Reference) failAt(fname.pos, "a method cannot return a reference");
                MethodDecl m;
                m.qualifiers = std::move(fq);
                m.returnType = type;
                m.name = fname.text;
                m.pos = fname.pos;
                take();
                if (!at(TokenKind::RParen)) {
                    for (;;) {
                        ParameterDecl p;
                        if (at(TokenKind::LBracket)) p.qualifiers = parseQualifierList();
                        Token pname;
                        parseTypeAndName(p.type, p.refClass, pname, "parameter");
                        p.name = pname.text;
                        p.pos = pname.pos;
                        for (const auto& other : m.parameters)
                            if (ieq(other.name, p.name.c_str()))
                                failAt(p.pos, "parameter '" + p.name + "' declared twice");
                        if (at(TokenKind::LBracket)) parseArraySuffix(p.isArray, p.arraySize);
                        m.parameters.push_back(std::move(p));
                        if (at(TokenKind::Comma)) {
                            take();
                            continue;
                        }
                        break;
                    }
                }
                expect(TokenKind::RParen, "',' or ')' in the parameter list");
                expect(TokenKind::Semicolon, "';' after the method declaration");
                c.methods.push_back(std::move(m));
            } else {
                PropertyDecl p;
                p.qualifiers = std::move(fq);
                p.type = type;
                p.refClass = refClass;
                p.name = fname.text;
                p.pos = fname.pos;
                if (at(TokenKind::LBracket)) {
                    if (type == DataType::Reference) failAt(tok_.pos, "a reference cannot be an array");
                    parseArraySuffix(p.isArray, p.arraySize);
                }
                if (at(TokenKind::Equals)) {
                    take();
                    p.defaultValue = parseInitializer();
                }
                expect(TokenKind::Semicolon, "';' after property '" + p.name + "'");
                c.properties.push_back(std::move(p));
            }
        }
        take();  // }
        expect(TokenKind::Semicolon, "';' after the class body");
        s_.out.order.push_back({Production::Class, s_.out.classes.size()});
        s_.out.classes.push_back(std::move(c));
    }

    // ---- instances --------------------------------------------------------
    void parseInstance(std::vector<QualifierUse> quals, const SourcePos& start)
    {
        take();  // instance
        expectWord("of");
        InstanceDecl d;
        d.qualifiers = std::move(quals);
        Token cls = expectIdentifier("a class name after 'instance of'");
        d.className = cls.text;
        d.pos = start;
        d.nameSpace = s_.nameSpace;
        if (atWord("as")) {
            take();
            Token a = expect(TokenKind::Alias, "an alias ('$name') after 'as'");
            for (const auto& other : s_.out.instances)
                if (!other.alias.empty() && ieq(other.alias, a.text.c_str()))
                    failAt(a.pos, "alias '$" + a.text + "' already defined at " + other.pos.toString());
            d.alias = a.text;
        }
        expect(TokenKind::LBrace, "'{' to open the instance body");
        while (!at(TokenKind::RBrace)) {
            if (at(TokenKind::End)) unexpected("'}' to close the instance of '" + d.className + "'");
            PropertyInit pi;
            if (at(TokenKind::LBracket)) pi.qualifiers = parseQualifierList();
            Token n = expectIdentifier("a property name");
            pi.name = n.text;
            pi.pos = n.pos;
            for (const auto& other : d.properties)
                if (ieq(other.name, pi.name.c_str())) failAt(n.pos, "property '" + pi.name + "' given twice");
            expect(TokenKind::Equals, "'=' after the property name");
            pi.value = parseInitializer();
            expect(TokenKind::Semicolon, "';' after the value of '" + pi.name + "'");
            d.properties.push_back(std::move(pi));
        }
        take();
        expect(TokenKind::Semicolon, "';' after the instance body");
        s_.out.order.push_back({Production::Instance, s_.out.instances.size()});
        s_.out.instances.push_back(std::move(d));
    }

    // ---- values -----------------------------------------------------------
    Value parseInitializer()
    {
        if (at(TokenKind::LBrace)) return parseArrayInitializer();
        return parseConstantValue();
    }

    Value parseArrayInitializer()
    {
        Value v;
        v.isArray = true;
        v.pos = expect(TokenKind::LBrace, "'{'").pos;
        if (at(TokenKind::RBrace)) {
            take();
            return v;
        }
        for (;;) {
            Value item = parseConstantValue();
            v.items.push_back(std::move(item.items[0]));
            if (at(TokenKind::Comma)) {
                take();
                continue;
            }
            expect(TokenKind::RBrace, "',' or '}' in the array value");
            return v;
        }
    }

    Value parseConstantValue()
    {
        Value v;
        v.pos = tok_.pos;
        Literal l;
        l.pos = tok_.pos;
        switch (tok_.kind) {
            case TokenKind::Integer: {
                Token t = take();
                l.kind = LiteralKind::Integer;
                l.negative = t.negative && t.magnitude != 0;
                l.magnitude = t.magnitude;
                break;
            }
            case TokenKind::Real:
                l.kind = LiteralKind::Real;
                l.realValue = take().real;
                break;
            case TokenKind::String:
                // Adjacent strings are one value: "ab" "cd" is "abcd".
                l.kind = LiteralKind::String;
                while (at(TokenKind::String)) l.text += take().text;
                break;
            case TokenKind::Char16:
                l.kind = LiteralKind::Char16;
                l.char16 = take().char16;
                break;
            case TokenKind::Alias:
                l.kind = LiteralKind::AliasRef;
                l.text = take().text;
                break;
            case TokenKind::Identifier:
                if (ieq(tok_.text, "true") || ieq(tok_.text, "false")) {
                    l.kind = LiteralKind::Boolean;
                    l.boolValue = ieq(take().text, "true");
                    break;
                }
                if (ieq(tok_.text, "null")) {
                    take();
                    l.kind = LiteralKind::Null;
                    break;
                }
                unexpected("a value");
            default:
                unexpected("a value");
        }
        v.items.push_back(std::move(l));
        return v;
    }

    Session& s_;
    MofLexer lex_;
    std::string baseDir_;
    Token tok_;
};

}  // namespace

void MofParser::parseFile(const std::string& path, Compilation& out, const std::string& nameSpace)
{
    Session s{out, nameSpace, {}, 0};
    FileParser::readFile(s, path, SourcePos{});
}

void MofParser::parseText(const std::string& text, const std::string& name, Compilation& out,
                          const std::string& nameSpace)
{
    if (text.size() > kMaxFileBytes)
        throw MofError(SourcePos{name, 0, 0}, "text is larger than the " + std::to_string(kMaxFileBytes) +
                                                  "-byte limit for one MOF file");
    Session s{out, nameSpace, {}, text.size()};
    out.files.push_back(name);
    FileParser p(s, text, name, dirOf(name));
    p.parseAll();
}

}  // namespace mof
}  // namespace minicimd
