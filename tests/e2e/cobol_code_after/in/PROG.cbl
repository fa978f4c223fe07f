       COPY CA. COPY CB.
       COPY CA. 01 Z PIC X.
       COPY CA. COPY NOPE.
