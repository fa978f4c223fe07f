       COPY FIFO.
       COPY ZERO.
       COPY GOOD.
