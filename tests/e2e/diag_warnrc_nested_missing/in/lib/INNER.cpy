          05 IN-F PIC X.
          COPY NOPE.
