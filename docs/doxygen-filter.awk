# Doxygen input filter: the headers use plain // comments; this turns them
# into documentation comments without touching the sources.
#   - the comment block that opens a file documents the file;
#   - a comment line above a declaration documents that declaration;
#   - a comment after a declaration on the same line documents it too.
BEGIN { head = 1 }
head && /^[ \t]*\/\// {
    if (!opened) { print "/// @file"; opened = 1 }
    sub(/\/\//, "///")
    print
    next
}
{ head = 0 }
/^[ \t]*\/\// { sub(/\/\//, "///"); print; next }
/[;,{][ \t]*\/\/ / { sub(/[ \t]*\/\/ /, " ///< "); print; next }
{ print }
