       COPY L3.
          05 L2-A PIC X.
