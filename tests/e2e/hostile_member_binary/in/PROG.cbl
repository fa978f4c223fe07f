       COPY BIN.
       DISPLAY 'AFTER'.
