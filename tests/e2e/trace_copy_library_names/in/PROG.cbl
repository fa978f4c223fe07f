       COPY A OF LIBA.
       COPY A IN NOLIB.
