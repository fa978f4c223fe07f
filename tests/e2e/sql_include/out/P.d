P.DEK P.XML: \
 P.cbl \
 lib/DCLTRTYP.cpy \
 lib/HOSTV.cpy \
 lib

lib/DCLTRTYP.cpy:

lib/HOSTV.cpy:
