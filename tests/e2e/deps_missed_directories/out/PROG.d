PROG.DEK PROG.XML: \
 PROG.cbl \
 lib2/A.cpy \
 lib1/C.cpy \
 lib1 \
 lib2

lib2/A.cpy:

lib1/C.cpy:
