       COPY
           NEXTMEM.
       01 Z PIC X.
