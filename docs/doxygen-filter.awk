# Doxygen input filter: the headers use plain // comments; this turns them
# into documentation comments without touching the sources.
#   - the comment block that opens a file documents the file, and the class
#     it names ("// ZoLooper: ...") gets a copy of it;
#   - a comment block directly above a declaration documents it; a block
#     followed by a blank line or by #include / #pragma / #if is a note to
#     the reader and stays an ordinary comment, as do "// ---- x ----" rulers;
#   - a comment after code on the same line documents that code;
#   - inside a block, the usual headings ("Threads:", "Blocking:", ...)
#     start a paragraph of their own.
# No line is added or removed, so Doxygen's line numbers match the sources.

function is_ruler(line) { return line ~ /^[ \t]*\/\/ *-+ .* -+ *$/ }

function doc(line, first) {
    if (is_ruler(line)) return line
    if (!first && match(line, "^[ \t]*// " headings ":")) {
        label = substr(line, RSTART, RLENGTH)
        sub(/^[ \t]*\/\/ /, "", label)
        return substr(line, 1, RSTART - 1) "/// <p><b>" label "</b>" substr(line, RSTART + RLENGTH)
    }
    sub(/\/\//, "///", line)
    return line
}

# Prints the buffered comment block; `next_line` is the line after it
# (`at_end` when there is none).
function flush(next_line, at_end,    i, plain) {
    if (n == 0) return
    if (head) {
        for (i = 1; i < n; i++) print doc(buf[i], i == 1)
        print doc(buf[n], n == 1) " @file"
        documented = 0
    } else {
        plain = at_end || next_line ~ /^[ \t]*$/ ||
                next_line ~ /^[ \t]*#[ \t]*(include|pragma|if|ifdef|ifndef|else|elif|endif|undef)/
        for (i = 1; i <= n; i++) print plain ? buf[i] : doc(buf[i], i == 1)
        documented = !plain
    }
    n = 0
    head = 0
}

BEGIN {
    head = 1; n = 0; documented = 0; file = ""
    headings = "(Ownership|Blocking|Threads|Failure|Lifetime|Signals|Hooks|Ending|Framing|" \
               "Paths|Bad arguments|Lock order|Listing|Byte form|Usage|Iteration callback|" \
               "Segment layout \\([^)]*\\)|Host contract \\([^)]*\\))"
}

FNR == 1 {
    file = FILENAME
    sub(/.*\//, "", file)
    head_class = ""
    if (match($0, /^\/\/ Zo[A-Za-z]+:/)) head_class = substr($0, 4, RLENGTH - 4)
}

/^[ \t]*\/\// { buf[++n] = $0; next }

{
    flush($0, 0)
    head = 0
    line = $0
    if (head_class != "" && !documented && line ~ ("^class +ZOLIB_API +" head_class "([ \t:{]|$)")) {
        line = "/** @copydoc " file " */ " line
    } else if (line !~ /^[ \t]*(#|})/ && line ~ /[^ \t].*[ \t]\/\/ /) {
        sub(/[ \t]*\/\/ /, " ///< ", line)
    }
    print line
    documented = 0
}

END { flush("", 1) }
