package javax.wbem.cim;

import java.util.Vector;

/**
 * The path of a CIM class or instance: host, namespace, class name and key
 * properties.  The String constructor reads the model-path form
 * {@code //host/namespace:Class.key="value",key2=5}; toString writes it.
 * Values of string, char16, datetime and reference keys are written between
 * double quotes with backslash and double quote escaped by a backslash, other
 * values bare, so that the text reads back to the same path.
 */
public class CIMObjectPath implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private String host = "";
    private String nameSpace = "";
    private String objectName = "";
    private Vector<CIMProperty> keys = new Vector<>();

    public CIMObjectPath() {
    }

    /** Parses a model path; a bare class name gives a path without keys. */
    public CIMObjectPath(String path) {
        if (path == null) {
            throw new IllegalArgumentException("object path text is null");
        }
        new Parser(path).parseInto(this);
    }

    public CIMObjectPath(String objectName, String nameSpace) {
        this.objectName = objectName;
        this.nameSpace = nameSpace;
    }

    public String getHost() { return host; }
    public void setHost(String host) { this.host = host; }
    public String getNameSpace() { return nameSpace; }
    public void setNameSpace(String nameSpace) { this.nameSpace = nameSpace; }
    public String getObjectName() { return objectName; }
    public void setObjectName(String objectName) { this.objectName = objectName; }
    public Vector getKeys() { return keys; }

    @SuppressWarnings("unchecked")
    public void setKeys(Vector keys) {
        this.keys = keys == null ? new Vector<>() : keys;
    }

    /** Adds a key property with the given value; its type is the value's type. */
    public void addKey(String name, CIMValue value) {
        CIMProperty key = new CIMProperty(name, value);
        key.setKey(true);
        keys.add(key);
    }

    /** The key of that name (compared without regard to case), or null. */
    public CIMProperty getKey(String name) {
        for (Object o : keys) {
            CIMProperty p = (CIMProperty) o;
            if (p.getName().equalsIgnoreCase(name)) {
                return p;
            }
        }
        return null;
    }

    private static boolean isQuotedType(CIMDataType type) {
        if (type == null) {
            return true;
        }
        int t = type.getType();
        return t == CIMDataType.STRING || t == CIMDataType.CHAR16
            || t == CIMDataType.DATETIME || t == CIMDataType.REFERENCE;
    }

    static String quote(String text) {
        StringBuilder sb = new StringBuilder(text.length() + 2).append('"');
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '"' || c == '\\') {
                sb.append('\\');
            }
            sb.append(c);
        }
        return sb.append('"').toString();
    }

    @Override
    public String toString() {
        StringBuilder sb = new StringBuilder();
        if (host != null && !host.isEmpty()) {
            sb.append("//").append(host).append('/');
        }
        if (nameSpace != null && !nameSpace.isEmpty()) {
            sb.append(nameSpace).append(':');
        }
        sb.append(objectName == null ? "" : objectName);
        boolean first = true;
        for (Object o : keys) {
            CIMProperty key = (CIMProperty) o;
            sb.append(first ? '.' : ',');
            first = false;
            sb.append(key.getName()).append('=');
            CIMValue v = key.getValue();
            Object inner = v == null ? null : v.getValue();
            String text = inner == null ? "" : inner.toString();
            CIMDataType type = key.getType() != null ? key.getType() : (v == null ? null : v.getType());
            sb.append(isQuotedType(type) ? quote(text) : text);
        }
        return sb.toString();
    }

    @Override
    public boolean equals(Object o) {
        return o instanceof CIMObjectPath && o.toString().equalsIgnoreCase(toString());
    }

    @Override
    public int hashCode() {
        return toString().toLowerCase().hashCode();
    }

    /** Reads the model-path form; every error names the position where it was found. */
    private static final class Parser {
        // Compiled once; a decimal key, the common case, is read without them.
        private static final java.util.regex.Pattern HEX = java.util.regex.Pattern.compile("[+-]?0[xX][0-9a-fA-F]+");
        private static final java.util.regex.Pattern HEX_PREFIX = java.util.regex.Pattern.compile("^[+-]?0[xX]");
        private static final java.util.regex.Pattern REAL =
            java.util.regex.Pattern.compile("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?");
        // Decimal digits that always fit a long (a sign aside).
        private static final int LONG_SAFE_DIGITS = 18;

        private final String text;
        private int pos;

        Parser(String text) {
            this.text = text;
        }

        private IllegalArgumentException error(String what) {
            return new IllegalArgumentException(
                "malformed object path at position " + pos + ": " + what + ": " + text);
        }

        private boolean at(char c) {
            return pos < text.length() && text.charAt(pos) == c;
        }

        private static boolean isNameStart(char c) {
            return Character.isLetter(c) || c == '_';
        }

        private static boolean isNamePart(char c) {
            return Character.isLetterOrDigit(c) || c == '_';
        }

        private String name(String what) {
            int start = pos;
            if (pos >= text.length() || !isNameStart(text.charAt(pos))) {
                throw error("expected " + what);
            }
            while (pos < text.length() && isNamePart(text.charAt(pos))) {
                pos++;
            }
            return text.substring(start, pos);
        }

        void parseInto(CIMObjectPath path) {
            if (text.startsWith("//")) {
                pos = 2;
                int slash = text.indexOf('/', pos);
                if (slash < 0) {
                    throw error("host without namespace");
                }
                path.host = text.substring(pos, slash);
                pos = slash + 1;
            }
            // A namespace ends at the first colon, which comes before the class name.
            int colon = namespaceEnd();
            if (colon >= 0) {
                path.nameSpace = text.substring(pos, colon);
                if (path.nameSpace.isEmpty()) {
                    throw error("empty namespace");
                }
                pos = colon + 1;
            } else if (!path.host.isEmpty()) {
                throw error("a path with a host needs a namespace");
            }
            if (pos == text.length()) {
                return;
            }
            path.objectName = name("class name");
            if (pos == text.length()) {
                return;
            }
            if (text.startsWith("=@", pos) && pos + 2 == text.length()) {
                return; // singleton: an instance without keys
            }
            if (!at('.')) {
                throw error("expected '.' before the key bindings");
            }
            do {
                pos++;
                path.keys.add(keyBinding());
            } while (at(','));
            if (pos != text.length()) {
                throw error("unexpected character");
            }
        }

        /** The colon that ends a namespace: one before any '.', '=' or '"'; -1 if there is none. */
        private int namespaceEnd() {
            for (int i = pos; i < text.length(); i++) {
                char c = text.charAt(i);
                if (c == ':') {
                    return i;
                }
                if (c == '.' || c == '=' || c == '"') {
                    return -1;
                }
            }
            return -1;
        }

        private CIMProperty keyBinding() {
            String name = name("key name");
            if (!at('=')) {
                throw error("expected '=' after key name");
            }
            pos++;
            CIMValue value = at('"') ? quotedValue() : bareValue();
            CIMProperty key = new CIMProperty(name, value);
            key.setKey(true);
            return key;
        }

        private CIMValue quotedValue() {
            int open = pos++;
            StringBuilder sb = new StringBuilder();
            while (true) {
                if (pos >= text.length()) {
                    pos = open;
                    throw error("unterminated quoted value");
                }
                char c = text.charAt(pos++);
                if (c == '"') {
                    break;
                }
                if (c == '\\') {
                    if (pos >= text.length()) {
                        throw error("backslash at end of path");
                    }
                    c = text.charAt(pos++);
                }
                sb.append(c);
            }
            String s = sb.toString();
            CIMObjectPath ref = referenceOrNull(s);
            if (ref != null) {
                return new CIMValue(ref, new CIMDataType(CIMDataType.REFERENCE));
            }
            return new CIMValue(s, new CIMDataType(CIMDataType.STRING));
        }

        /** A quoted value that is itself a path with keys is a reference. */
        private static CIMObjectPath referenceOrNull(String s) {
            if (s.indexOf('=') < 0 || s.indexOf('.') < 0) {
                return null;
            }
            try {
                CIMObjectPath p = new CIMObjectPath(s);
                return p.keys.isEmpty() ? null : p;
            } catch (IllegalArgumentException e) {
                return null;
            }
        }

        private CIMValue bareValue() {
            int start = pos;
            while (pos < text.length() && text.charAt(pos) != ',') {
                pos++;
            }
            String token = text.substring(start, pos);
            if (token.equalsIgnoreCase("true") || token.equalsIgnoreCase("false")) {
                return new CIMValue(Boolean.valueOf(token), new CIMDataType(CIMDataType.BOOLEAN));
            }
            try {
                if (isDecimal(token)) {
                    return integer(token.charAt(0) == '+' ? token.substring(1) : token, 10);
                }
                if (HEX.matcher(token).matches()) {
                    boolean neg = token.startsWith("-");
                    String digits = HEX_PREFIX.matcher(token).replaceFirst("");
                    return integer((neg ? "-" : "") + digits, 16);
                }
                if (REAL.matcher(token).matches()) {
                    return new CIMValue(Double.valueOf(token), new CIMDataType(CIMDataType.REAL64));
                }
            } catch (NumberFormatException e) {
                // reported below with the position
            }
            pos = start;
            throw error("expected a quoted value, a number or a boolean");
        }

        /** An optional sign and ASCII digits: the common key, read without a pattern. */
        private static boolean isDecimal(String token) {
            int digitsFrom = token.startsWith("+") || token.startsWith("-") ? 1 : 0;
            if (digitsFrom == token.length()) {
                return false;
            }
            for (int i = digitsFrom; i < token.length(); i++) {
                char c = token.charAt(i);
                if (c < '0' || c > '9') {
                    return false;
                }
            }
            return true;
        }

        private static CIMValue integer(String digits, int radix) {
            int signs = digits.startsWith("-") ? 1 : 0;
            if (radix == 10 && digits.length() - signs <= LONG_SAFE_DIGITS) {
                return new CIMValue(Long.parseLong(digits), new CIMDataType(CIMDataType.SINT64));
            }
            java.math.BigInteger v = new java.math.BigInteger(digits, radix);
            if (v.bitLength() < 64) {
                return new CIMValue(v.longValue(), new CIMDataType(CIMDataType.SINT64));
            }
            return new CIMValue(new UnsignedInt64(v), new CIMDataType(CIMDataType.UINT64));
        }
    }
}
